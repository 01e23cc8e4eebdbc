#include "trigger/QX_FastAudioTriggerDevice.h"

#include "trigger/OnsetLocator.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace {

constexpr std::int32_t kSampleRate = 44100;
constexpr double kSampleScale = 32768.0;
// Sample values of 32760 and up in either direction count as clipping.
constexpr std::int32_t kClipSample = 32760;

// One-pole smoothing of the band's power: 0.5 ms for the envelope, 12 ms for
// the level it is compared with.
const double kFastCoef = 1.0 - std::exp(-1.0 / (kOnsetEnvelopeSeconds * kSampleRate));
const double kSlowCoef = 1.0 - std::exp(-1.0 / (0.012 * kSampleRate));
const double kFallCoef = 1.0 - std::exp(-1.0 / (0.002 * kSampleRate));
constexpr double kDiedAwayRatio = 31.6;
// The noise floor is the slow level's minimum, allowed to creep up 6 dB per 250 ms.
const double kNoiseFloorRise = std::pow(4.0, 1.0 / (0.25 * kSampleRate));
constexpr double kTriggerRatio = 2.0;     // envelope 3 dB over the slow level
constexpr double kNoiseGateRatio = 3.0;   // and 4.8 dB over the noise floor
constexpr double kConfirmRatio = 1.6;     // attack power 2 dB over what came before
constexpr double kConfirmFloorRatio = 1.2;
constexpr double kAbsoluteFloor = 1e-7;   // -70 dBFS: digital silence and dither
// The softest stroke worth counting peaks over -56 dBFS: a metronome's click
// leaking from headphones peaks near -60 dBFS at the drum's microphone. At
// -50 dBFS soft strokes of a low tom, whose energy lies mostly under the
// high-pass, were lost in crescendos.
constexpr float kQuietestStrokePeak = 0.0016f;
constexpr std::int64_t kWarmUpSamples = 441;     // 10 ms for the levels to settle
constexpr std::int64_t kMaxRiseSamples = 88;     // 2 ms
// Once the envelope has risen 3 dB it has 3 ms to clear the noise gate.
constexpr std::int64_t kGateSamples = 132;
// A strike seen in the bands' flux started up to 3 ms before the frame that
// shows it: the flux compares with the levels 2 ms back, smoothed over 1 ms.
constexpr std::int64_t kStrikeLookBack = 132;
// The flux of the player's strokes is followed over about the last four;
// sooner than half the usual interval after a stroke a strike must rise half
// as much as they did (decideCandidate).
constexpr float kStrokeFluxCoef = 0.25f;
constexpr float kOutOfPaceFlux = 0.5f;
// A ring still within 20 dB of the player's strokes (power against the mean
// recent peak squared): where the next stroke's attack sits in it.
constexpr double kRingingLevel = 0.01;
constexpr std::int64_t kAttackSamples = 176;     // 4 ms measured from the onset
constexpr std::int64_t kRefractorySamples = 520; // 11.8 ms from the onset
// Some snares' attack comes in two bursts up to 16 ms apart (the stick, then
// the wires' and shell's own swell, far louder). Until the pace is known, a
// louder burst within 20 ms of a stroke is that stroke's attack still
// building; so is a softer one that shows no strike in the bands: a snare's
// own second burst 12 to 17 ms after the stick (4 to 16 dB in the bands)
// counted as a stroke while the roll had barely begun. A second stroke that
// soon (a flam's, a double's) is struck in every band. Once the pace is
// known, so is a louder burst that shows no strike in the bands: a
// low tom's body swells 14 to 17 ms after the stick, 2.5 times as loud, with
// 4 to 8 dB in the bands, and counted it set a pace of 20 ms on which every
// later swell was due.
constexpr std::int64_t kAttackBuildsSamples = 882;
// The share of its peak's power a stroke's sound keeps while its attack
// still builds, 6 dB: a low tom's stick attack holds within 4 dB until its
// body's burst; a pad's stroke, choked, falls far under it.
constexpr double kBuildingShare = 0.25;
constexpr std::int64_t kChokedSamples = 1764; // 40 ms: analyzeBlock
constexpr double kChokedFall = 0.00316; // 25 dB under the stroke's peak
// How long a stroke's sound must stay gone to show the drum stops dead,
// 5 ms: a low tom's ring by microphone dipped into the room for over 2 ms
// between its beats; a pad's stroke stays gone until the next one.
constexpr std::int64_t kStayedGoneSamples = 220;
const double kHeldRelease = std::exp(-1.0 / (0.002 * kSampleRate));
// Where a candidate's attack starts, for the decisions: no earlier than the
// envelope's last quiet sample before it, nor before it was within 15 dB of
// the attack's peak.
constexpr double kAttackPeakShare = 0.03;
constexpr double kAttackRise = 4.0;
// The published onset is looked for from 5 ms before the candidate's start
// to 10 ms after it, about the span the standard detector searches. Under a
// snare's ring the rise that makes a candidate can come a burst or two after
// the attack's start: a snare whose attack builds over 20 ms rises out of
// its own ring at 16/s in two bursts 3.6 ms apart, and a search from 1 ms
// before the candidate's start to its decision 4 ms after it set the
// strokes of an even roll on either burst (0.74 % uneven; 1.8 % at 8/s
// with this lead but the search ending at the decision). On the tuned kits
// a 5 ms lead gave a mean onset SD of 0.48 ms over the kit sweep's rows, an
// 8 ms one 0.60 ms; 3 ms set the roll at 16/s on either burst again (0.8 %).
constexpr std::int64_t kOnsetLeadSamples = 220;
constexpr std::int64_t kOnsetSpanSamples = 441;
// The level the search starts from: the envelope's mean over the 10 ms before it.
constexpr std::int64_t kOnsetLevelSamples = 441;
constexpr std::int64_t kLongestRefractorySamples = 1323; // 30 ms
constexpr std::int64_t kClipHoldSamples = 132;   // 3 ms after the last clipped sample
constexpr float kRelativePeak = 0.4f;
// A stroke masks what follows: a candidate's peak must reach a fifth of the
// loudest recent stroke's peak, halved every 300 ms. Ghost notes after an
// accent pass (a third of it, measured); a tom's beating ring (a tenth after
// 120 ms) and its tail after the history's second has run out do not.
constexpr double kMaskRatio = 0.2;
// A candidate less than 6 dB over what came before and without new treble
// rises out of a ring: it must reach 0.45 of the loudest recent peak (a floor
// tom's beating ring reaches 0.29 to 0.53 of it; a snare's weaker hand under
// its ring 0.64 and up; softer strokes under an accent bring treble).
constexpr double kClearAttackRatio = 4.0;
constexpr double kRingMaskRatio = 0.45;
constexpr double kStrikeEdgeRatio = 0.8;
// Under -40 dBFS a candidate must rise 16 dB out of what came before: a
// voice near the drum peaks up to -41 dBFS at its microphone, each pulse of
// the voiced sound within 15 dB of the one 3 to 10 ms before it, while a
// stroke that soft (a ghost note 30 dB under a loud accent) starts from the
// room's quiet. While the player plays (Choices::playingPeak) it need not.
// A strike brings its stick's click: the treble of a fresh attack stands
// 3 dB or more over what came before, while a ringing drum's swell, its
// partials beating, brings none (0.5 to 1.4 of it on a floor tom).
constexpr double kStrikeTreble = 2.0;
// Within 6 dB of the room's noise floor no ring sounds before a candidate.
constexpr double kRoomRatio = 4.0;
constexpr float kFaintPeak = 0.01f;
constexpr double kFaintRise = 40.0;
const double kMaskDecay = std::pow(0.5, 1.0 / (0.3 * kSampleRate));
constexpr std::int64_t kHistoryTimeoutSamples = 44100; // 1 s

} // namespace

TQX_FastAudioTriggerDevice::TQX_FastAudioTriggerDevice(const std::string& DeviceID,
                                                       std::unique_ptr<TQX_AudioInput> graph)
    : AudioDetectorBase(DeviceID, std::move(graph))
{
}

TQX_FastAudioTriggerDevice::~TQX_FastAudioTriggerDevice()
{
    // Joins the capture thread before the state it writes goes away.
    stopCapture();
}

void TQX_FastAudioTriggerDevice::resetAnalysis()
{
    m_meter1 = Biquad{};
    m_meter2 = Biquad{};
    // The same high-pass as the standard detector, so Level matches it sample for sample.
    m_highPass = highPass300Hz(kSampleRate);

    m_powers = Powers{};
    m_strike.reset(kSampleRate);
    m_candidateFlux = 0;
    m_edgeBefore = 0;
    m_edgeAttackSum = 0;
    m_levelBefore = 0;
    m_floorBefore = 0;
    m_maskPeak = 0;
    m_attackSum = 0;
    m_attackSamples = 0;
    m_phase = Phase::Idle;
    m_quietSample = -1;
    m_riseSample = -1;
    m_candidateOnset = 0;
    m_decideAt = 0;
    m_refractoryEnd = 0;
    m_lastOnset = -1;
    m_paceKnown = false;
    m_choked = false;
    m_stopsDead = false;
    m_goneSince = -1;
    m_paceSamples = 0;
    m_strokeFlux = 0;
    m_candidatePeak = 0;
    m_onsets.fill(Onset{});
    m_recentEnvelope.fill(0.0f);
    m_held = HeldStroke{};
    m_onsetIndex = 0;
}

float TQX_FastAudioTriggerDevice::meanRecentPeak() const
{
    // Divided by the whole ring of eight, as the standard detector does: the
    // first few strokes after a pause set a low bar, so ghost notes after a
    // lone accent still count.
    float sum = 0.0f;
    for (const auto& slot : StrokeLevels)
        sum += slot.load(std::memory_order_relaxed);
    return sum / 8.0f;
}

std::int32_t TQX_FastAudioTriggerDevice::analyzeBlock(const unsigned char* bytes, std::int32_t n)
{
    const double b0 = m_highPass.b0, b1 = m_highPass.b1, b2 = m_highPass.b2, a1 = m_highPass.a1,
                 a2 = m_highPass.a2;
    Biquad s1 = m_meter1;
    Biquad s2 = m_meter2;
    Powers p = m_powers;
    const std::int64_t firstIndex = samplesSinceStart();
    std::int64_t index = firstIndex;
    float blockPeak = 0.0f;

    for (std::int32_t i = 0; i < n; ++i, ++index) {
        const std::int16_t raw = sampleAt(bytes, i);

        const float filtered = s2.step(s1.step(static_cast<float>(raw / kSampleScale), b0, b1, b2, a1, a2), b0,
                                       b1, b2, a1, a2);
        const float meter = std::fabs(filtered);
        if (meter > blockPeak)
            blockPeak = meter;

        const bool frameClosed = m_strike.push(filtered);
        const double power = static_cast<double>(filtered) * filtered;
        p.fast += kFastCoef * (power - p.fast);
        m_recentEnvelope[static_cast<std::size_t>(index) % m_recentEnvelope.size()] = static_cast<float>(p.fast);
        // The step from the last sample: rises 6 dB per octave, so it weighs
        // the stick's click far above a drum's low partials.
        const double input = raw / kSampleScale;
        const double edgePower = (input - p.lastInput) * (input - p.lastInput);
        p.edgeFast += kFastCoef * (edgePower - p.edgeFast);
        p.lastInput = input;

        if (raw >= kClipSample || raw <= -kClipSample) {
            // Clipping inside a stroke's refractory time belongs to that stroke.
            if (m_phase == Phase::Refractory && m_refractoryEnd < index + kClipHoldSamples)
                m_refractoryEnd = index + kClipHoldSamples;
        }

        switch (m_phase) {
        case Phase::Idle:
            if (frameClosed && index >= kWarmUpSamples && m_strike.flux() >= m_choices.strikeFlux
                && p.fast > kAbsoluteFloor) {
                // Every band rose at once: a strike, however little it
                // lifts the whole band's envelope over a ring.
                startCandidate(std::max(m_quietSample + 1, index - kStrikeLookBack), p);
                m_candidateFlux = m_strike.flux();
                break;
            }
            // A stick's click starts a candidate however little the whole
            // band rises: under the body of a drum still sounding from the
            // last accent the 3 dB rise may never come. Its onset is no
            // earlier than the 2 ms an attack takes to rise.
            if (index >= kWarmUpSamples && p.edgeFast > m_choices.clickStart * p.edgeSlow
                && p.fast > std::max(kAbsoluteFloor, kNoiseGateRatio * p.noiseFloor)) {
                startCandidate(std::max(m_quietSample + 1, index - kMaxRiseSamples), p);
            } else if (index >= kWarmUpSamples && p.fast > kTriggerRatio * p.slow) {
                if (m_riseSample < 0) {
                    if (index - m_quietSample > kMaxRiseSamples) {
                        // A swell, not an attack: a ringing drum's beating modes
                        // take longer than 2 ms to rise 3 dB, a stick never does.
                        m_quietSample = index;
                        break;
                    }
                    m_riseSample = index;
                }
                if (p.fast > std::max(kAbsoluteFloor, kNoiseGateRatio * p.noiseFloor)) {
                    startCandidate(m_quietSample + 1, p);
                } else if (index - m_quietSample > kGateSamples) {
                    m_quietSample = index;
                    m_riseSample = -1;
                }
            } else if (p.fast <= p.slow) {
                m_quietSample = index;
                m_riseSample = -1;
            }
            break;
        case Phase::Candidate:
            if (frameClosed)
                m_candidateFlux = std::max(m_candidateFlux, m_strike.flux());
            m_attackSum += power;
            m_edgeAttackSum += edgePower;
            ++m_attackSamples;
            if (p.fast > m_candidatePeak)
                m_candidatePeak = p.fast;
            if (index >= m_decideAt)
                decideCandidate(index);
            break;
        case Phase::Refractory:
            if (index >= m_refractoryEnd) {
                m_phase = Phase::Idle;
                m_quietSample = index;
                m_riseSample = -1;
            }
            break;
        }
        if (m_held.held && index + 1 >= m_held.until)
            releaseStroke(index + 1);
        if (settledThrough(judgedThrough()))
            break;

        // Where the sound has died away (a pad, a choked drum) the level
        // before follows it down in 2 ms, so a loud stroke does not hide a
        // soft one 30 ms later; over a ring, whose dips stay within 15 dB,
        // it keeps its 12 ms. In the first 10 ms both levels follow in 2 ms,
        // so they stand at the room's level, not under it, when candidates
        // start: with 12 ms they had reached only 57 % of it, and the room
        // noise's next bump counted as a stroke.
        // A sound that falls within 6 dB of the room's noise floor and 25 dB
        // under its stroke's peak from 20 to 40 ms after the stroke's onset
        // was choked (a pad, a trigger): no drum's ring dies that soon. The
        // level before then follows it down in 2 ms: a loud stroke's 12 ms
        // level, held 15 dB over the room's noise, hid the soft stroke 25 ms
        // after it at 40/s. Not sooner, for an attack that builds in bursts
        // dips between them (a low tom's second burst 13 ms after the
        // stick); not later, nor for a soft stroke by microphone, whose ring
        // lies near the room and beats out of it.
        // A soft stroke cannot fall 25 dB under its peak without falling
        // under the room. Once a stroke has been seen to stop (its sound
        // gone as above, and staying gone for 5 ms, where a ring dips into
        // the room and comes back), the drum stops dead, and a soft stroke's
        // sound falling under the room's level is choked too: a tom pad's
        // ghost notes peak only 10 to 15 dB over the room. On a drum that
        // rings it changes little, for there a stroke's sound seldom falls
        // under the room within 40 ms of it (ending the belief when a loud
        // stroke still sounded at 40 ms lost three cases of 1,260, gained
        // none).
        const bool settling = index < kWarmUpSamples;
        const std::int64_t sinceStroke = m_lastOnset < 0 ? 0 : index - m_lastOnset;
        // The envelope's peak held with a 2 ms release: a low partial's
        // envelope dips to nothing at each half cycle, its held peak does not.
        p.held = std::max(p.fast, p.held * kHeldRelease);
        const double strokePeak = static_cast<double>(recentOnset(0).peakLevel);
        const double strokeFall = kChokedFall * strokePeak * strokePeak;
        const bool gone = p.held < kRoomRatio * p.noiseFloor && p.held < strokeFall;
        const bool chokeWindow = sinceStroke >= kAttackBuildsSamples && sinceStroke < kChokedSamples;
        if (!chokeWindow || !gone)
            m_goneSince = -1;
        else if (m_goneSince < 0)
            m_goneSince = index;
        if (m_goneSince >= 0 && index - m_goneSince >= kStayedGoneSamples)
            m_stopsDead = true;
        const bool choked = p.fast < p.slow && chokeWindow && (gone || (m_stopsDead && p.held < p.noiseFloor));
        m_choked = m_choked || choked;
        p.slow += (settling || choked || p.fast * kDiedAwayRatio < p.slow ? kFallCoef : kSlowCoef) * (p.fast - p.slow);
        p.edgeSlow += (settling ? kFallCoef : kSlowCoef) * (edgePower - p.edgeSlow);
        m_maskPeak *= kMaskDecay;
        // Until the slow level has settled its minimum means nothing.
        p.noiseFloor = index < kWarmUpSamples ? p.slow : p.noiseFloor * kNoiseFloorRise;
        if (p.slow < p.noiseFloor)
            p.noiseFloor = p.slow;
        if (p.noiseFloor < 1e-12)
            p.noiseFloor = 1e-12;

        if (m_lastOnset >= 0 && index - m_lastOnset == kHistoryTimeoutSamples) {
            // A second without a stroke: the old strokes no longer set the bar.
            ResetHistory();
            m_lastOnset = -1;
        }
    }

    if (blockPeak > Level.load(std::memory_order_relaxed))
        raiseLevel(blockPeak);
    m_meter1 = s1;
    m_meter2 = s2;
    m_powers = p;
    return static_cast<std::int32_t>(index - firstIndex);
}

void TQX_FastAudioTriggerDevice::startCandidate(std::int64_t onset, const Powers& p)
{
    m_phase = Phase::Candidate;
    m_candidateOnset = onset;
    m_decideAt = onset + kAttackSamples;
    m_levelBefore = std::max(p.slow, kConfirmFloorRatio * p.noiseFloor);
    m_floorBefore = p.noiseFloor;
    m_attackSum = 0;
    m_edgeBefore = p.edgeSlow;
    m_edgeAttackSum = 0;
    m_attackSamples = 0;
    m_candidatePeak = p.fast;
    m_candidateFlux = 0;
    m_riseSample = -1;
}

void TQX_FastAudioTriggerDevice::decideCandidate(std::int64_t index)
{
    const float peak = static_cast<float>(std::sqrt(m_candidatePeak));
    const float reference = meanRecentPeak();
    const double attackPower = m_attackSamples > 0 ? m_attackSum / static_cast<double>(m_attackSamples) : 0.0;
    const double edgePower = m_attackSamples > 0 ? m_edgeAttackSum / static_cast<double>(m_attackSamples) : 0.0;
    // After a choked stroke, with the room quiet again, nothing of the drum
    // sounds: no ring to rise out of, no body to swell, no tail. A tom pad's
    // soft strokes there rise 2 to 8 dB with little treble and little in the
    // bands (their sound lies mostly under the high-pass), as a ring's
    // swell does; judged as one, they were masked by the accent before.
    // Only while the player keeps the pace (within two intervals of the last
    // stroke, or before the pace is known): past that the roll has ended,
    // and a drum by microphone whose stroke was taken for choked may still
    // beat near the room (a tom's tail 225 ms after a roll's last stroke
    // rose 4.8 dB out of it).
    const std::int64_t since = m_lastOnset < 0 ? 0 : m_candidateOnset - m_lastOnset;
    const bool silenced = m_choked && m_levelBefore <= kRoomRatio * m_floorBefore
        && (m_paceSamples == 0 || since <= 2 * m_paceSamples);
    // Under 6 dB over the level before and without new treble: the partials
    // already sounding swell, nothing struck.
    const bool outOfRing = !silenced && attackPower < kClearAttackRatio * m_levelBefore
        && edgePower < kStrikeEdgeRatio * m_edgeBefore;
    // A fresh attack, clearly over what sounded before, is a stroke however
    // soft against the last ones: the player's ghost notes. So is a stick's
    // click whose treble stands out although the drum's body, still sounding
    // from the accent, hides its rise. Only a smaller rise out of a ring is
    // judged by the strokes before it.
    // Within 20 ms of a stroke such a click is the stroke's own second burst.
    const bool click = edgePower >= m_choices.clickRise * m_edgeBefore
        && (m_lastOnset < 0 || m_candidateOnset - m_lastOnset >= kAttackBuildsSamples);
    // Struck: every band rose at once, and the candidate brings 2 dB of
    // power or of treble over what sounded before (a ring's partials beating
    // out of a trough rise in a band or two while the whole falls; the
    // room's noise in six narrow bands rises 12 to 16 dB in sum, with no
    // more power). Where the player's next stroke is due (within a quarter
    // of the usual interval) any gain will do: at 25 to 30/s a stroke's
    // attack sits in the ring of the one before. Nor is a swell whose treble
    // falls (outOfRing) a strike: a floor tom's beating ring 80 to 110 ms
    // after its stroke rose 16 to 23 dB in the bands with 0.5 to 0.8 of the
    // treble before it. Sooner than half the usual interval after a stroke a
    // strike must rise half as much as the player's recent strokes: a
    // sample's own second burst 40 to 50 ms after a tom's attack rose 15 to
    // 25 dB, the strokes 65 to 72 dB.
    // The waiver is for a stroke whose attack sits in the ring of the one
    // before, still within 20 dB of the player's strokes, or one that rises
    // in the bands half as much as they do: a high tom's ring, 30 dB under
    // its strokes at 4/s, beats 230 ms after each with 1.4 times the power
    // and 15 dB in the bands (the strokes 66 dB), 20 ms before the next
    // stroke, which it hid.
    const bool ringing = m_levelBefore >= kRingingLevel * static_cast<double>(reference) * reference;
    const bool due = m_paceSamples > 0 && std::llabs(since - m_paceSamples) <= m_paceSamples / 4
        && (ringing || m_candidateFlux >= kOutOfPaceFlux * m_strokeFlux);
    // Nor need a strike that rises in the bands half as much as the
    // player's strokes bring any gain, wherever it comes: the stick is
    // plain in every band, and at 30 to 40/s the weaker hand's power sits
    // under the ring of the stronger, off a pace the lost strokes upset.
    const bool plainStrike = m_strokeFlux > 0 && m_candidateFlux >= kOutOfPaceFlux * m_strokeFlux;
    const double gain = due || plainStrike ? 1.0 : kConfirmRatio;
    const bool inPace = m_paceSamples == 0 || m_lastOnset < 0 || since >= m_paceSamples / 2
        || m_candidateFlux >= kOutOfPaceFlux * m_strokeFlux;
    const bool struck = m_candidateFlux >= m_choices.strikeFlux && inPace && !outOfRing
        && (attackPower >= gain * m_levelBefore || edgePower >= gain * m_edgeBefore);
    // Until the player's pace is known, and after a pause of over two
    // intervals, a strike is judged as any attack is: a wall's echo 50 ms
    // after a lone stroke is a strike 20 dB down too, and so is the room's
    // noise over a snare's tail 400 ms after the last stroke of a roll.
    // Past a beat and a half without a stroke the roll may have ended, and
    // the drum's tail swells as its partials beat: a snare's 250 ms after
    // the last stroke of a roll at 8/s rose 2.5 dB in power and 16.5 dB in
    // the bands, its treble falling to 0.82 of what came before. There a
    // strike is trusted only if it brings a stick's click (treble that does
    // not fall) or a clear attack (6 dB). Not after a choked stroke: a pad
    // has no tail, and its soft strokes rise as little out of the room.
    const bool afterRest = !silenced && 2 * since > 3 * m_paceSamples && edgePower < m_edgeBefore
        && attackPower < kClearAttackRatio * m_levelBefore;
    const bool trusted = struck && m_paceSamples > 0 && since <= 2 * m_paceSamples && !afterRest;
    // A rise under 6 dB that brings no strike in the bands, no stick's
    // click and treble that falls is the drum's own body swelling, never a
    // stroke, unless it comes where the player's next stroke is due: a low
    // tom's body swells 40 ms after the stick, 2.3 dB over what came before
    // and louder than the attack, with 5 to 7 dB in the bands (the strokes
    // 65 to 71) and 0.08 of the treble; a mid tom's ring at 4/s swells
    // 2.5 to 3.6 dB with 6 to 8 dB in the bands and 0.7 to 0.95 of the
    // treble. Counted, they put a stroke or two more into every beat.
    const bool swell = !silenced && !due && !click && m_candidateFlux < m_choices.strikeFlux
        && attackPower < kClearAttackRatio * m_levelBefore && edgePower < m_choices.swellTreble * m_edgeBefore;
    // A strike that rises 4 dB out of the room's quiet, with nothing ringing
    // before it, is a fresh attack though the pace is not known: ghost
    // notes on a pad between accents a second apart (6 to 7 dB over the
    // room, 17 to 21 dB in the bands) were masked by the accent before.
    // Past a beat and a half the roll may have ended (afterRest). Once the
    // stroke before was choked (a pad) nothing of it can swell, and 2 dB
    // will do, struck in the bands or not: a low tom pad's ghost notes rise
    // 2 to 4 dB out of the room over the high-pass, their sound lying
    // mostly under it, and 3 to 15 dB in the bands, most in the lowest.
    const bool outOfRoom = (struck || silenced) && !afterRest && m_levelBefore <= kRoomRatio * m_floorBefore
        && attackPower >= (m_choked ? kConfirmRatio : m_choices.freshRise) * m_levelBefore;
    const bool fresh = trusted || outOfRoom || click || (attackPower >= m_choices.freshRise * m_levelBefore && edgePower >= kStrikeTreble * m_edgeBefore)
        || attackPower >= m_choices.plainRise * m_levelBefore;
    const bool masked = fresh ? peak < m_choices.freshMask * m_maskPeak
                              : (reference > 0.0f && peak < kRelativePeak * reference)
            || peak < (outOfRing ? kRingMaskRatio : kMaskRatio) * m_maskPeak;
    // A strike on the player's beat is no voice, however soft: the end of a
    // decrescendo at 35/s lies under -40 dBFS, and its strokes never rise
    // 16 dB out of the ring. (A voice never sets a pace: it is not counted.)
    const bool faint = peak < kFaintPeak && attackPower < kFaintRise * m_levelBefore
        && m_maskPeak < m_choices.playingPeak && !trusted;
    // Before the player's pace is known, a rise out of a ring (no strike in
    // the bands, no fresh attack, no click) sooner than half the last
    // interval after a stroke is the ring beating, not the next stroke: at
    // 4/s a tom's ring beats 30 to 190 ms after each stroke, and counted it
    // kept the pace from being known. Once it is known, the rules above
    // judge such a rise by where the next stroke is due.
    const std::int32_t lastInterval = recentOnset(0).intervalSamples;
    const bool beatInRing = !struck && !fresh && !click && m_paceSamples == 0 && lastInterval != EmptyInterval
        && 2 * since < lastInterval;
    if (beatInRing || swell || peak < kQuietestStrokePeak || faint
        || (attackPower < kConfirmRatio * m_levelBefore && !click && !struck) || masked) {
        // A ripple of the ring or an echo: look for the next rise from here.
        m_phase = Phase::Idle;
        m_quietSample = index;
        m_riseSample = -1;
        return;
    }

    const std::int64_t onset = attackStart(index);
    const bool unstruck = m_candidateFlux < m_choices.strikeFlux;
    // A louder burst that soon after a stroke whose sound has held within
    // 6 dB of its peak since, sooner than two thirds of the player's usual
    // interval, is that stroke's attack still building, struck in every
    // band or not: a low tom's body bursts 12 ms after the stick, twice as
    // loud, while the stick's attack still sounds. At 40/s the refractory
    // time (half the interval) ends just before it, and counted it took the
    // next stroke's place. A stroke that follows a soft one that soon finds
    // it fallen away (a pad's ghost note chokes within 20 ms).
    const float lastPeak = recentOnset(0).peakLevel;
    const bool soon = m_lastOnset >= 0 && onset - m_lastOnset < kAttackBuildsSamples;
    if ((soon && !m_paceKnown && unstruck)
        || (soon && peak > lastPeak
            && (!m_paceKnown || unstruck
                || (3 * (onset - m_lastOnset) < 2 * m_paceSamples
                    && heldSince(m_lastOnset, m_candidateOnset, kBuildingShare * lastPeak * lastPeak))))) {
        m_phase = Phase::Idle;
        m_quietSample = index;
        m_riseSample = -1;
        return;
    }
    const std::int32_t interval = m_lastOnset >= 0 ? static_cast<std::int32_t>(onset - m_lastOnset) : EmptyInterval;
    m_onsets[static_cast<std::size_t>(m_onsetIndex)] = Onset{onset, interval, peak};
    m_onsetIndex = (m_onsetIndex + 1) % 8;
    m_lastOnset = onset;
    m_choked = false;
    m_strokeFlux += kStrokeFluxCoef * (m_candidateFlux - m_strokeFlux);
    // Past full scale the peak is the clipping's overshoot in the filter, not
    // the drum: it must not mask the next stroke.
    const double maskPeak = std::min(static_cast<double>(peak), 1.0);
    if (maskPeak > m_maskPeak)
        m_maskPeak = maskPeak;
    holdStroke(index, onset, interval, peak);

    // The refractory time grows with the pace up to 30 ms: half the recent
    // intervals, so a ringing drum's ripples between steady strokes are not
    // mistaken for strokes, while a sudden faster burst is still counted from
    // its second stroke on. It needs four real intervals to go by.
    std::int64_t intervals[4];
    bool steady = true;
    for (std::int32_t back = 0; back < 4; ++back) {
        intervals[back] = recentOnset(back).intervalSamples;
        steady = steady && intervals[back] != EmptyInterval;
    }
    std::int64_t refractory = kRefractorySamples;
    if (steady) {
        std::sort(std::begin(intervals), std::end(intervals));
        const std::int64_t median = (intervals[1] + intervals[2]) / 2;
        refractory = std::clamp(median / 2, kRefractorySamples, kLongestRefractorySamples);
        m_paceSamples = median;
    } else {
        m_paceSamples = 0;
    }
    m_paceKnown = steady;
    m_phase = Phase::Refractory;
    m_refractoryEnd = std::max(onset + refractory, index + 1);
}

std::int64_t TQX_FastAudioTriggerDevice::attackStart(std::int64_t index) const
{
    const auto envelope = [this](std::int64_t k) {
        return static_cast<double>(m_recentEnvelope[static_cast<std::size_t>(k) % m_recentEnvelope.size()]);
    };
    const double floorPower = kAttackPeakShare * m_candidatePeak;
    const std::int64_t earliest =
        std::max({index - static_cast<std::int64_t>(m_recentEnvelope.size()) + 1, m_refractoryEnd, kWarmUpSamples});
    std::int64_t quiet = m_candidateOnset - 1;
    for (std::int64_t k = std::max(m_candidateOnset, earliest); k <= index; ++k) {
        const double e = envelope(k);
        if (e <= floorPower)
            quiet = k;
        else if (e > kAttackRise * floorPower)
            break;
    }
    return quiet + 1;
}

bool TQX_FastAudioTriggerDevice::heldSince(std::int64_t from, std::int64_t to, double power) const
{
    // The envelope's peak held over 2 ms, as for a choked stroke; its first
    // 4 ms are the attack rising.
    double held = 0.0;
    for (std::int64_t k = std::max(from, to - static_cast<std::int64_t>(m_recentEnvelope.size()) + 1); k < to; ++k) {
        held = std::max(static_cast<double>(m_recentEnvelope[static_cast<std::size_t>(k) % m_recentEnvelope.size()]),
                        held * kHeldRelease);
        if (k >= from + kAttackSamples && held < power)
            return false;
    }
    return true;
}

void TQX_FastAudioTriggerDevice::holdStroke(std::int64_t index, std::int64_t attack, std::int32_t interval, float peak)
{
    if (m_held.held)
        releaseStroke(index + 1);
    // The span starts after the last stroke's refractory time (still the
    // last stroke's here) and inside the envelope the ring keeps.
    const auto envelope = [this](std::int64_t k) {
        return static_cast<double>(m_recentEnvelope[static_cast<std::size_t>(k) % m_recentEnvelope.size()]);
    };
    const std::int64_t earliestKept = index - static_cast<std::int64_t>(m_recentEnvelope.size()) + 1;
    const std::int64_t from =
        std::max({m_candidateOnset - kOnsetLeadSamples, earliestKept, m_refractoryEnd, kWarmUpSamples});
    // The level before: the 12 ms level at the candidate's rise, or the
    // envelope's mean over the 10 ms before the search starts when that is
    // lower, as it is when the 12 ms level still holds the decay of a stroke
    // 60 ms before (a ghost note right after an accent read 2 ms late
    // against it). The envelope at the search's first sample alone, tried
    // first, stands anywhere on a ring's ripples: the detector corpus's
    // rows read a mean onset SD of 0.23 ms with it, 0.10 ms this way, and
    // with an 8 ms lead a snare's even roll at 16/s read 3.0 % uneven.
    const std::int64_t levelFrom = std::max(from - kOnsetLevelSamples, earliestKept);
    double levelSum = 0.0;
    for (std::int64_t k = levelFrom; k < from; ++k)
        levelSum += envelope(k);
    const double levelBefore = from > levelFrom ? levelSum / static_cast<double>(from - levelFrom) : envelope(from);
    m_held = HeldStroke{true,   false, from, std::max(m_candidateOnset + kOnsetSpanSamples, index + 1), index,
                        attack, std::min(m_levelBefore, levelBefore), interval, peak};
    if (withinRecordingTime(index)) {
        // Inside the recording time wherever its onset lies.
        RecordStroke(interval, peak);
        m_held.counted = true;
    } else if (!withinRecordingTime(from)) {
        m_held.held = false;
        closeRecording();
    }
}

void TQX_FastAudioTriggerDevice::releaseStroke(std::int64_t end)
{
    static_assert(kOnsetLeadSamples + kOnsetSpanSamples <= std::tuple_size_v<decltype(m_recentEnvelope)>,
                  "the ring must hold the whole span");
    const HeldStroke h = m_held;
    m_held.held = false;
    const auto envelope = [this](std::int64_t k) {
        return static_cast<double>(m_recentEnvelope[static_cast<std::size_t>(k) % m_recentEnvelope.size()]);
    };
    std::int64_t onset = locateOnset(envelope, h.from, std::min(end, h.until), h.levelBefore);
    // A rise after the decision is a later swell of the same stroke.
    if (onset < 0 || onset > h.decided)
        onset = h.attack;
    publishLocatedStroke(onset, h.counted, h.interval, h.peak);
}

std::int64_t TQX_FastAudioTriggerDevice::judgedThrough() const
{
    // A candidate's start, and the next one's, is never before the last
    // quiet sample; the onset it is published with may lie up to
    // kOnsetLeadSamples before that, but never inside the last stroke's
    // refractory time.
    const std::int64_t next =
        std::max((m_phase == Phase::Candidate ? m_candidateOnset - 1 : m_quietSample) - kOnsetLeadSamples,
                 m_refractoryEnd - 1);
    return m_held.held ? std::min(next, m_held.from - 1) : next;
}

void TQX_FastAudioTriggerDevice::finishInput()
{
    stopCapture();
    if (m_held.held)
        releaseStroke(samplesSinceStart());
}

TQX_FastAudioTriggerDevice::Onset TQX_FastAudioTriggerDevice::recentOnset(std::int32_t back) const
{
    return m_onsets[static_cast<std::size_t>((m_onsetIndex + 7 - (back & 7)) % 8)];
}
