// The alarm tune through FluidSynth.
#include <fluidsynth.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/Sound.h"

namespace veltrin::platform {
namespace {

// FluidSynth's own block size; the player's sample timer advances once per block.
constexpr int kBlockFrames = 64;
struct AudioDriver final {
    const char* name;
    // ALSA without sound card nodes only prints complaints to stderr before it fails.
    bool needsSoundNodes;
};
// JACK is left out: opening it may try to start a sound server.
constexpr std::array kAudioDrivers = {AudioDriver{"pulseaudio", false}, AudioDriver{"alsa", true}};
const std::filesystem::path kSoundNodes = "/dev/snd";
// FluidSynth tells no one when a tune ends, so the sound card path looks this often.
constexpr std::chrono::milliseconds kEndPoll{20};
// A tune that never ends must not make renderAlarm run forever.
constexpr std::size_t kMaxRenderFrames = std::size_t{10} * 60 * kAlarmSampleRate;

// A failed driver or sound font is an expected outcome here (silence), not something for stderr.
void quietFluidSynthLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_ERR, nullptr, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    });
}

struct Synth final {
    Synth() = default;
    Synth(const Synth&) = delete;
    Synth& operator=(const Synth&) = delete;
    ~Synth() {
        if (synth != nullptr) {
            delete_fluid_synth(synth);
        }
        if (settings != nullptr) {
            delete_fluid_settings(settings);
        }
    }
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
};

std::unique_ptr<Synth> loadSynth(const std::filesystem::path& soundFont) {
    quietFluidSynthLog();
    auto result = std::make_unique<Synth>();
    result->settings = new_fluid_settings();
    if (result->settings == nullptr) {
        return nullptr;
    }
    fluid_settings_setnum(result->settings, "synth.sample-rate", kAlarmSampleRate);
    fluid_settings_setnum(result->settings, "synth.gain", kAlarmGain);
    // The synth's own output drives the player, with or without a sound card.
    fluid_settings_setstr(result->settings, "player.timing-source", "sample");
    result->synth = new_fluid_synth(result->settings);
    if (result->synth == nullptr ||
        fluid_synth_sfload(result->synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        return nullptr;
    }
    return result;
}

struct PlayerDeleter final {
    void operator()(fluid_player_t* player) const { delete_fluid_player(player); }
};
using Player = std::unique_ptr<fluid_player_t, PlayerDeleter>;

// plays: how often the tune is played; -1 is without end.
Player startTune(fluid_synth_t* synth, int plays) {
    Player player(new_fluid_player(synth));
    if (!player) {
        return player;
    }
    const auto tune = alarmTune();
    if (fluid_player_add_mem(player.get(), tune.data(), tune.size()) != FLUID_OK ||
        fluid_player_set_loop(player.get(), plays) != FLUID_OK ||
        fluid_player_play(player.get()) != FLUID_OK) {
        player.reset();
    }
    return player;
}

bool tunePlaying(fluid_player_t* player) {
    return fluid_player_get_status(player) == FLUID_PLAYER_PLAYING;
}

template <typename KeepGoing>
void renderWhilePlaying(fluid_synth_t* synth, fluid_player_t* player, KeepGoing keepGoing,
                        const AlarmSampleSink& sink, std::size_t maxFrames) {
    std::array<std::int16_t, kBlockFrames * kAlarmChannels> block{};
    for (std::size_t frames = 0; frames < maxFrames && tunePlaying(player) && keepGoing();
         frames += kBlockFrames) {
        fluid_synth_write_s16(synth, kBlockFrames, block.data(), 0, 2, block.data(), 1, 2);
        sink(block);
    }
}

fluid_audio_driver_t* openSoundCard(const Synth& synth) {
    std::error_code error;
    const bool haveSoundNodes = std::filesystem::exists(kSoundNodes, error);
    for (const auto& driver : kAudioDrivers) {
        if (driver.needsSoundNodes && !haveSoundNodes) {
            continue;
        }
        fluid_settings_setstr(synth.settings, "audio.driver", driver.name);
        if (auto* opened = new_fluid_audio_driver(synth.settings, synth.synth)) {
            return opened;
        }
    }
    return nullptr;
}

}  // namespace

struct FluidSynthAlarmPlayer::State final {
    explicit State(FluidSynthAlarmOptions options) : options(std::move(options)) {}

    void run(bool loop);
    void playOnSoundCard(fluid_player_t* player);
    void stopWorker();

    const FluidSynthAlarmOptions options;

    std::mutex control;  // one start or stop at a time
    std::thread worker;  // guarded by control

    mutable std::mutex mutex;  // guards the two flags
    mutable std::condition_variable changed;
    std::atomic<bool> stopRequested{false};  // atomic too: the render loop reads it per block
    bool active = false;

    // Touched by the worker only, and one worker runs at a time.
    std::unique_ptr<Synth> synth;
    bool synthFailed = false;
};

void FluidSynthAlarmPlayer::State::run(bool loop) {
    if (!synth && !synthFailed) {
        synth = loadSynth(options.soundFont);
        synthFailed = !synth;
    }
    if (synth) {
        if (Player player = startTune(synth->synth, loop ? -1 : 1)) {
            if (options.sink) {
                renderWhilePlaying(
                    synth->synth, player.get(), [this] { return !stopRequested.load(); },
                    options.sink, std::numeric_limits<std::size_t>::max());
            } else {
                playOnSoundCard(player.get());
            }
        }
        // A stopped tune may leave notes sounding; the next play starts from silence.
        fluid_synth_all_sounds_off(synth->synth, -1);
    }
    std::lock_guard lock(mutex);
    active = false;
    changed.notify_all();
}

void FluidSynthAlarmPlayer::State::playOnSoundCard(fluid_player_t* player) {
    fluid_audio_driver_t* driver = openSoundCard(*synth);
    if (driver == nullptr) {
        return;
    }
    {
        std::unique_lock lock(mutex);
        // The player ends only after its last notes have died away.
        while (!stopRequested && tunePlaying(player)) {
            changed.wait_for(lock, kEndPoll);
        }
    }
    // The driver's thread renders the synth: it goes before the player does.
    delete_fluid_audio_driver(driver);
}

void FluidSynthAlarmPlayer::State::stopWorker() {
    {
        std::lock_guard lock(mutex);
        stopRequested = true;
    }
    changed.notify_all();
    if (worker.joinable()) {
        worker.join();
    }
}

FluidSynthAlarmPlayer::FluidSynthAlarmPlayer(FluidSynthAlarmOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

FluidSynthAlarmPlayer::~FluidSynthAlarmPlayer() {
    stop();
}

void FluidSynthAlarmPlayer::playOnce() {
    start(false);
}

void FluidSynthAlarmPlayer::playLoop() {
    start(true);
}

void FluidSynthAlarmPlayer::start(bool loop) {
    std::lock_guard control(state_->control);
    state_->stopWorker();
    {
        std::lock_guard lock(state_->mutex);
        state_->stopRequested = false;
        state_->active = true;
    }
    try {
        state_->worker = std::thread([state = state_.get(), loop] { state->run(loop); });
    } catch (const std::system_error&) {
        std::lock_guard lock(state_->mutex);
        state_->active = false;
        state_->changed.notify_all();
    }
}

void FluidSynthAlarmPlayer::stop() {
    std::lock_guard control(state_->control);
    state_->stopWorker();
}

bool FluidSynthAlarmPlayer::playing() const {
    std::lock_guard lock(state_->mutex);
    return state_->active;
}

bool FluidSynthAlarmPlayer::waitUntilSilent(std::chrono::milliseconds limit) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, limit, [this] { return !state_->active; });
}

std::vector<std::int16_t> renderAlarm(bool loopTwice, const std::filesystem::path& soundFont) {
    std::vector<std::int16_t> samples;
    const auto synth = loadSynth(soundFont);
    if (!synth) {
        return samples;
    }
    const Player player = startTune(synth->synth, loopTwice ? 2 : 1);
    if (!player) {
        return samples;
    }
    renderWhilePlaying(
        synth->synth, player.get(), [] { return true; },
        [&samples](std::span<const std::int16_t> block) {
            samples.insert(samples.end(), block.begin(), block.end());
        },
        kMaxRenderFrames);
    return samples;
}

}  // namespace veltrin::platform
