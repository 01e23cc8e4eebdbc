#pragma once
// TempFolder with QString paths, for Qt tests.

#include "TempFolder.h"

#include <QString>

class QtTempFolder {
public:
    explicit QtTempFolder(const std::string& prefix = "tempovaro-test") : m_folder(prefix) {}

    bool isValid() const { return m_folder.isValid(); }
    QString path() const { return QString::fromStdString(m_folder.path()); }
    QString filePath(const QString& name) const { return path() + QLatin1Char('/') + name; }

private:
    TempFolder m_folder;
};
