// The floor of corvane --version: the least a Qt Core program does to print one line.
#include <QCoreApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    std::puts("minimal 1.0.0");
    return 0;
}
