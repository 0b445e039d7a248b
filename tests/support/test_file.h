#pragma once
// Writing a test's input file. A write that fails throws, so no test goes on to read a missing
// or half-written file and report that as the program's fault.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <stdexcept>

namespace test_file {

// Replaces whatever the file held; returns its path.
inline QString Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    return path;
}

}  // namespace test_file
