#include "journal/RunText.h"

#include <QLocale>

QString runDeviceText(const RunDevice& device, const QString& displayName)
{
    const bool audio = device.type == DeviceType::Audio;
    const bool midi = device.type == DeviceType::Midi;
    if (!audio && !midi)
        return displayName.isEmpty() ? QStringLiteral("Score list") : displayName;
    QString text = displayName.isEmpty() ? QStringLiteral("(unnamed)") : displayName;
    if (audio) {
        if (!device.line.empty())
            text += QStringLiteral(" (") + QString::fromStdString(device.line) + QLatin1Char(')');
        // Which detector counted matters when two runs are compared.
        if (device.detector == AudioDetector::Fast)
            text += QStringLiteral(", Fast detector");
        return text;
    }
    if (device.channel != 0)
        text += QStringLiteral(", channel %1").arg(device.channel);
    if (device.note >= 0)
        text += QStringLiteral(", note %1").arg(device.note);
    return text;
}

QString runDeviceText(const RunDevice& device)
{
    return runDeviceText(device, QString::fromStdString(device.name.empty() ? device.id : device.name));
}

QString runDetectorText(const RunDevice& device)
{
    if (device.type != DeviceType::Audio)
        return {};
    return device.detector == AudioDetector::Fast ? QStringLiteral("Fast") : QStringLiteral("Standard");
}

QString runResultText(RunResult result)
{
    return QString::fromLatin1(runResultName(result));
}

QString recordingTimeText(std::int32_t ms)
{
    if (ms < 0)
        return QStringLiteral("Endless");
    const QLocale locale;
    const int decimals = ms % 1000 == 0 ? 0 : (ms % 100 == 0 ? 1 : 3);
    return locale.toString(ms / 1000.0, 'f', decimals) + QStringLiteral(" s");
}
