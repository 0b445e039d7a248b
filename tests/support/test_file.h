#pragma once
// Writing a test's input file. A write that fails throws, so no test goes on to read a missing
// or half-written file and report that as the program's fault.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <stdexcept>
#include <unistd.h>

namespace test_file {

// Replaces whatever the file held; returns its path.
inline QString Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

// Runs step with the standard input closed, so that the next file opened takes descriptor 0, as
// in a program started with its input closed.
template <typename Step>
void WithInputClosed(Step step)
{
    const int input = dup(0);
    if (input < 0)
        throw std::runtime_error("cannot keep the standard input");
    close(0);
    try {
        step();
    } catch (...) {
        dup2(input, 0);
        close(input);
        throw;
    }
    dup2(input, 0);
    close(input);
}

}  // namespace test_file
