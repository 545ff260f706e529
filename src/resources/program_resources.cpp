#include "resources/program_resources.h"

#include <QtGlobal>

void initProgramResources() {
    // The resources live in a static library, whose initialiser the linker keeps only
    // when something refers to it.
    Q_INIT_RESOURCE(resources);
}
