// The trigger check window, driven through its buttons with a made-up
// input and a clock the test moves.
#include "QtTestPrograms.h"
#include "ui/device/TriggerCheckDialog.h"

#include "trigger/AudioDetectorBase.h"
#include "trigger/SampleTap.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <vector>

namespace {

// One second of input: room noise at -60 dBFS and a 2 ms click of peakDb every 250 ms.
std::vector<std::int16_t> second(double peakDb)
{
    std::vector<std::int16_t> s(TriggerCheck::kSampleRate);
    unsigned seed = 1;
    for (auto& v : s) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<std::int16_t>(static_cast<int>((seed >> 16) % 65u) - 32);
    }
    const double peak = 32767.0 * std::pow(10.0, peakDb / 20.0);
    for (std::size_t at = 1000; at < s.size(); at += s.size() / 4)
        for (std::size_t i = 0; i < 88; ++i)
            s[at + i] = static_cast<std::int16_t>(peak * std::exp(-static_cast<double>(i) / 20.0) * ((i % 3) == 0 ? 1.0 : -0.6));
    return s;
}

// An audio device without a back-end that keeps the taps attached to it.
class TappedDevice : public AudioDetectorBase {
public:
    TappedDevice() : AudioDetectorBase("", nullptr) {}
    void Start(std::int32_t TimeLimit) override { AudioDetectorBase::Start(TimeLimit); }
    bool attachSampleTap(SampleTap* tap) override
    {
        taps.push_back(tap);
        return AudioDetectorBase::attachSampleTap(tap);
    }
    std::vector<SampleTap*> taps;

private:
    void resetAnalysis() override {}
    std::int32_t analyzeBlock(const unsigned char*, std::int32_t n) override { return n; }
};

} // namespace

class TestTriggerCheckDialog : public QObject {
    Q_OBJECT
private slots:
    void playsTenSecondsThenSetsTheLevel()
    {
        std::int64_t nowMs = 5000;
        int collected = 0;
        const auto quiet = second(-24.0);
        TriggerCheckDialog dialog(
            [&](TriggerCheck& check) {
                ++collected;
                check.addSamples(quiet.data(), quiet.size());
            },
            [&] { return nowMs; });
        double setDb = 0.0;
        dialog.OnSetLevel = [&](double db) { setDb = db; };
        dialog.show();
        QVERIFY(!dialog.btnSetLevel->isEnabled());

        QTest::mouseClick(dialog.btnStart, Qt::LeftButton);
        QVERIFY(dialog.Timer->isActive());
        QCOMPARE(collected, 1); // what came before Start is dropped
        for (int s = 1; s <= 9; ++s) {
            nowMs += 1000;
            dialog.TimerTick();
            QVERIFY(dialog.Progress->text().contains(QStringLiteral("%1 s left").arg(10 - s)));
        }
        QVERIFY(dialog.Results->text().isEmpty());
        nowMs += 1000;
        dialog.TimerTick();
        QVERIFY(!dialog.Timer->isActive());
        // Ten seconds of clicks four a second, peaking at -24 dBFS: 18 dB to raise.
        QCOMPARE(dialog.figures().strokes, 40);
        QVERIFY(dialog.Results->text().contains(QStringLiteral("raise the input level by 18 dB")));
        QVERIFY(dialog.btnSetLevel->isEnabled());
        QTest::mouseClick(dialog.btnSetLevel, Qt::LeftButton);
        QVERIFY(std::fabs(setDb - 18.0) < 1.0);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void readsTheProgramsDeviceThroughATapAndLetsGoWhenClosed()
    {
        TriggerDevice = std::make_unique<TappedDevice>();
        auto* device = static_cast<TappedDevice*>(TriggerDevice.get());
        std::int64_t nowMs = 0;
        double setDb = 0.0;
        QWidget parent;
        QPointer<TriggerCheckDialog> dialog =
            TriggerCheckDialog::openFor(true, [&](double db) { setDb = db; }, &parent, [&] { return nowMs; });
        QCOMPARE(device->taps.size(), std::size_t{1});
        SampleTap* tap = device->taps.front();
        QVERIFY(tap != nullptr);

        const auto early = second(-6.0);
        tap->write(early.data(), static_cast<std::int32_t>(2 * early.size())); // before Start: dropped
        QTest::mouseClick(dialog->btnStart, Qt::LeftButton);
        const auto played = second(-24.0);
        for (int s = 0; s < 10; ++s) {
            tap->write(played.data(), static_cast<std::int32_t>(2 * played.size()));
            nowMs += 1000;
            dialog->TimerTick();
        }
        QCOMPARE(dialog->figures().strokes, 40);
        QTest::mouseClick(dialog->btnSetLevel, Qt::LeftButton);
        QVERIFY(std::fabs(setDb - 18.0) < 1.0);
        // Closed: the tap is detached, and the dialog deletes itself.
        QCOMPARE(device->taps.size(), std::size_t{2});
        QCOMPARE(device->taps.back(), static_cast<SampleTap*>(nullptr));
        QTRY_VERIFY(dialog.isNull());
        TriggerDevice.reset();
    }
};

TEMPOVARO_QTEST(TestTriggerCheckDialog)
#include "test_trigger_check_dialog.moc"
