#include "batch_engine/launch_record.h"

#include <QLocale>

#include "common/date_time_format.h"
#include "common/line_end.h"
#include "platform/platform.h"

namespace {

const QString kLogBoxHeader = QStringLiteral("-- Batch (Spawn) Launched ");
const QString kLogBoxEnd = QStringLiteral("-- End of Batch");
const QString kRunLogSeparator(67, u'-');

}  // namespace

LaunchRecord::LaunchRecord(LaunchProgress& progress, Platform& platform, const QString& logPath,
                           const QString& logHeader)
    : logBox(progress), runLog_(logPath, OutputFile::Mode::Append) {
    const QString stamp = formatLogDateTime(QLocale(), platform.now());
    runLog_.write(logHeader + stamp + kLineEnd + kLineEnd);
    logBox.append(kLogBoxHeader + stamp + kLineEnd);
}

void LaunchRecord::addServer(QStringView batchText) {
    runLog_.write(batchText);
    runLog_.write(kLineEnd);
    runLog_.write(kLineEnd);
}

void LaunchRecord::note(const QString& line) {
    runLog_.write(line + kLineEnd);
}

void LaunchRecord::endLogBox() {
    logBox.append(kLogBoxEnd + kLineEnd);
    logBox.flush();
}

void LaunchRecord::close() {
    runLog_.write(kRunLogSeparator + kLineEnd);
    runLog_.close();
}

void LaunchRecord::fail(const QString& message) noexcept {
    try {
        runLog_.write(QStringLiteral("Launch failed: ") + message + kLineEnd);
        close();
    } catch (...) {
        // The run log itself is what fails; the message box still says why.
    }
}
