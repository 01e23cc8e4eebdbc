#pragma once
// A file's bytes in one call, for tests that plant or compare whole files.

#include <QByteArray>
#include <QFile>
#include <QString>

// Empty when the file does not open.
inline QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Replaces the file; false unless every byte was written.
inline bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
