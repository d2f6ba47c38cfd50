#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace veltrin::platform {

// Plays the alarm tune. Every call may come from any thread, returns soon and never throws; a
// machine that cannot make sound stays silent.
class AlarmPlayer {
public:
    virtual ~AlarmPlayer() = default;
    // Both replace whatever is playing.
    virtual void playOnce() = 0;
    virtual void playLoop() = 0;
    // When it returns, the tune is silent.
    virtual void stop() = 0;
    virtual bool playing() const = 0;
};

// The Standard MIDI File the client plays; sound/make_alarm_tune.py writes it.
std::span<const std::uint8_t> alarmTune();

inline constexpr int kAlarmSampleRate = 44100;
inline constexpr int kAlarmChannels = 2;  // samples interleave left and right
// FluidSynth's default gain (0.2) is too quiet for an alarm; this still leaves head-room.
inline constexpr double kAlarmGain = 0.6;

inline const std::filesystem::path kTimGm6mbSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Takes rendered sound in place of a sound card; interleaved stereo at kAlarmSampleRate.
using AlarmSampleSink = std::function<void(std::span<const std::int16_t> samples)>;

struct FluidSynthAlarmOptions {
    std::filesystem::path soundFont = kTimGm6mbSoundFont;
    // Empty: the sound card. Set: the tune is rendered into it as fast as the processor goes, on
    // the player's own thread (so the sink must not call stop()). Tests hear the player this way.
    AlarmSampleSink sink;
};

// FluidSynth with a General MIDI sound font. The sound font is loaded on the first play; the
// sound card is opened for each play and closed when the tune ends or is stopped. No sound card
// (every driver fails to open) or an unloadable sound font means silence.
class FluidSynthAlarmPlayer final : public AlarmPlayer {
public:
    explicit FluidSynthAlarmPlayer(FluidSynthAlarmOptions options = {});
    ~FluidSynthAlarmPlayer() override;
    FluidSynthAlarmPlayer(const FluidSynthAlarmPlayer&) = delete;
    FluidSynthAlarmPlayer& operator=(const FluidSynthAlarmPlayer&) = delete;

    void playOnce() override;
    void playLoop() override;
    void stop() override;
    bool playing() const override;

    // True once nothing plays; false when the limit passed first.
    bool waitUntilSilent(std::chrono::milliseconds limit) const;

private:
    struct State;
    void start(bool loop);
    std::unique_ptr<State> state_;
};

// For machines without FluidSynth's sound font.
class SilentAlarmPlayer final : public AlarmPlayer {
public:
    void playOnce() override {}
    void playLoop() override {}
    void stop() override {}
    bool playing() const override { return false; }
};

// The first General MIDI sound font this machine has: TimGM6mb, then the Debian default.
std::optional<std::filesystem::path> findSoundFont();

enum class AlarmPlayerKind { kFluidSynth, kSilent };

// The one place that picks: FluidSynth when there is a sound font, silence otherwise.
AlarmPlayerKind chooseAlarmPlayer(const std::optional<std::filesystem::path>& soundFont);

std::unique_ptr<AlarmPlayer> makeAlarmPlayer();

// Renders the tune (twice over when asked) without a sound card: interleaved stereo samples at
// kAlarmSampleRate until the player ends, which FluidSynth makes a little after the last notes
// have died away. Empty when the sound font cannot be loaded.
std::vector<std::int16_t> renderAlarm(bool loopTwice,
                                      const std::filesystem::path& soundFont = kTimGm6mbSoundFont);

}  // namespace veltrin::platform
