#include "capture/QX_MidiPortNames.h"

#include <QByteArray>
#include <QUuid>

namespace {
// Fixed namespace of the port IDs: changing it would orphan every stored ID.
const QUuid kPortIdNamespace{0x6b3e2c4a, 0x0f1d, 0x4c7e, 0x9a, 0x55, 0x3d, 0x2b, 0x8e, 0x41, 0xc9, 0xf0};
} // namespace

bool isOwnMidiPort(const std::string& rawName)
{
    const std::string client = rawName.substr(0, rawName.find(':'));
    const std::string own = kMidiClientName;
    if (client == own)
        return true;
    return client.size() > own.size() + 1 && client.compare(0, own.size(), own) == 0 && client[own.size()] == '-' &&
           client.find_first_not_of("0123456789", own.size() + 1) == std::string::npos;
}

std::string midiPortPersonName(bool alsa, const std::string& rawName)
{
    if (!alsa)
        return rawName;
    const auto space = rawName.find_last_of(' ');
    if (space == std::string::npos)
        return rawName;
    const std::string tail = rawName.substr(space + 1);
    const auto colon = tail.find(':');
    const bool address = colon != std::string::npos && colon > 0 && colon + 1 < tail.size() &&
                         tail.find_first_not_of("0123456789:") == std::string::npos &&
                         tail.find(':', colon + 1) == std::string::npos;
    return address ? rawName.substr(0, space) : rawName;
}

std::string midiPortID(const std::string& apiName, const std::string& name, int duplicate)
{
    QByteArray key = QByteArray::fromStdString(apiName);
    key += '\n';
    key += QByteArray::fromStdString(name);
    if (duplicate > 0)
        key += "\n#" + QByteArray::number(duplicate);
    return QUuid::createUuidV5(kPortIdNamespace, key).toString(QUuid::WithBraces).toUpper().toStdString();
}

bool isGuidText(const std::string& text)
{
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return false;
    for (std::size_t i = 1; i < 37; ++i) {
        const char c = text[i];
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (dash ? c != '-' : !hex)
            return false;
    }
    return true;
}
