#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/Sound.h"

namespace veltrin::platform {
namespace {

using namespace std::chrono_literals;

// Generous bound for "did not hang"; no assertion depends on how fast anything is.
constexpr auto kNoHang = 60s;

// ---- A small Standard MIDI File reader: the tests learn the tune's facts from the file itself.

struct TrackFacts {
    std::uint32_t endTick = 0;
    bool endsWithEndOfTrack = false;
    int notesLeftSounding = 0;
    int notes = 0;
};

struct MidiFacts {
    int format = -1;
    int declaredTracks = 0;
    int division = 0;
    std::vector<TrackFacts> tracks;
    std::map<std::uint32_t, std::uint32_t> tempos;  // tick -> microseconds per quarter note
};

class ByteReader final {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool atEnd() const { return pos_ >= bytes_.size(); }
    bool failed() const { return failed_; }

    std::uint32_t number(int width) {
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i) {
            value = (value << 8) | byte();
        }
        return value;
    }

    std::uint8_t byte() {
        if (atEnd()) {
            failed_ = true;
            return 0;
        }
        return bytes_[pos_++];
    }

    std::uint32_t variableLength() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const auto b = byte();
            value = (value << 7) | (b & 0x7F);
            if ((b & 0x80) == 0) {
                return value;
            }
        }
        failed_ = true;
        return value;
    }

    std::span<const std::uint8_t> take(std::size_t count) {
        if (bytes_.size() - pos_ < count) {
            failed_ = true;
            pos_ = bytes_.size();
            return {};
        }
        const auto part = bytes_.subspan(pos_, count);
        pos_ += count;
        return part;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
    bool failed_ = false;
};

std::optional<TrackFacts> readTrack(std::span<const std::uint8_t> body,
                                    std::map<std::uint32_t, std::uint32_t>& tempos) {
    ByteReader in(body);
    TrackFacts facts;
    std::map<std::pair<int, int>, int> sounding;  // (channel, key) -> open note-ons
    std::uint32_t tick = 0;
    std::uint8_t status = 0;
    while (!in.atEnd() && !facts.endsWithEndOfTrack) {
        tick += in.variableLength();
        std::uint8_t first = in.byte();
        if (first == 0xFF) {
            const auto kind = in.byte();
            const auto data = in.take(in.variableLength());
            if (kind == 0x2F) {
                facts.endsWithEndOfTrack = true;
            } else if (kind == 0x51 && data.size() == 3) {
                tempos[tick] = (std::uint32_t{data[0]} << 16) | (data[1] << 8) | data[2];
            }
            continue;
        }
        if (first == 0xF0 || first == 0xF7) {
            in.take(in.variableLength());
            continue;
        }
        if ((first & 0x80) != 0) {
            status = first;
            first = in.byte();
        } else if (status == 0) {
            return std::nullopt;  // running status without a status
        }
        const int kind = status & 0xF0;
        const int channel = status & 0x0F;
        const int second = (kind == 0xC0 || kind == 0xD0) ? -1 : in.byte();
        if (kind == 0x90 && second > 0) {
            ++sounding[{channel, first}];
            ++facts.notes;
        } else if ((kind == 0x80 || kind == 0x90) && sounding[{channel, first}] > 0) {
            --sounding[{channel, first}];
        }
    }
    if (in.failed() || !in.atEnd()) {
        return std::nullopt;  // cut short, or bytes after the end of track
    }
    facts.endTick = tick;
    for (const auto& [note, count] : sounding) {
        facts.notesLeftSounding += count;
    }
    return facts;
}

std::optional<MidiFacts> readMidi(std::span<const std::uint8_t> bytes) {
    ByteReader in(bytes);
    const auto magic = in.take(4);
    if (in.failed() || std::string(magic.begin(), magic.end()) != "MThd" || in.number(4) != 6) {
        return std::nullopt;
    }
    MidiFacts facts;
    facts.format = static_cast<int>(in.number(2));
    facts.declaredTracks = static_cast<int>(in.number(2));
    facts.division = static_cast<int>(in.number(2));
    while (!in.atEnd()) {
        const auto chunkType = in.take(4);
        const auto body = in.take(in.number(4));
        if (in.failed()) {
            return std::nullopt;
        }
        if (std::string(chunkType.begin(), chunkType.end()) != "MTrk") {
            continue;  // unknown chunks are allowed and skipped
        }
        auto track = readTrack(body, facts.tempos);
        if (!track) {
            return std::nullopt;
        }
        facts.tracks.push_back(*track);
    }
    return facts;
}

// Seconds from the start to the last track's end, through the tempo map (120 bpm until told).
double durationSeconds(const MidiFacts& facts) {
    std::uint32_t end = 0;
    for (const auto& track : facts.tracks) {
        end = std::max(end, track.endTick);
    }
    double seconds = 0;
    std::uint32_t tick = 0;
    std::uint32_t tempo = 500'000;
    for (const auto& [at, next] : facts.tempos) {
        if (at >= end) {
            break;
        }
        seconds += double(at - tick) * tempo / facts.division / 1e6;
        tick = at;
        tempo = next;
    }
    return seconds + double(end - tick) * tempo / facts.division / 1e6;
}

const MidiFacts& tuneFacts() {
    static const auto facts = readMidi(alarmTune());
    if (!facts) {
        ADD_FAILURE() << "the alarm tune does not read as a Standard MIDI File";
        static const MidiFacts empty;
        return empty;
    }
    return *facts;
}

// ---- Sound measures.

std::size_t frameAt(double seconds) {
    return static_cast<std::size_t>(seconds * kAlarmSampleRate);
}

double rms(std::span<const std::int16_t> samples, std::size_t fromFrame, std::size_t toFrame) {
    const auto first = std::min(samples.size(), fromFrame * kAlarmChannels);
    const auto last = std::min(samples.size(), toFrame * kAlarmChannels);
    if (last <= first) {
        return 0;
    }
    double sum = 0;
    for (auto i = first; i < last; ++i) {
        sum += double(samples[i]) * samples[i];
    }
    return std::sqrt(sum / double(last - first));
}

double seconds(std::span<const std::int16_t> samples) {
    return double(samples.size()) / kAlarmChannels / kAlarmSampleRate;
}

// Two beats at the tune's tempo; the quietest stretch of the tune (its last held note) is still
// far above this.
constexpr double kWindowSeconds = 0.4;
constexpr double kAudibleRms = 500;
constexpr double kSilentRms = 50;

// Every window of [from, to) is audible; returns the first one that is not.
std::optional<double> firstQuietWindow(std::span<const std::int16_t> samples, double from,
                                       double to) {
    for (double at = from; at + kWindowSeconds <= to; at += kWindowSeconds) {
        if (rms(samples, frameAt(at), frameAt(at + kWindowSeconds)) < kAudibleRms) {
            return at;
        }
    }
    return std::nullopt;
}

void expectSoundFont() {
    ASSERT_TRUE(std::filesystem::is_regular_file(kTimGm6mbSoundFont))
        << kTimGm6mbSoundFont << " is missing; scripts/install-deps installs timgm6mb-soundfont";
}

// ---- The file.

TEST(AlarmTuneFile, HeaderSaysFormatOneAtNinetySixTicksPerQuarter) {
    const auto tune = alarmTune();
    ASSERT_GE(tune.size(), 14u);
    const auto& facts = tuneFacts();
    EXPECT_EQ(facts.format, 1);
    EXPECT_EQ(facts.division, 96);
    EXPECT_GT(facts.declaredTracks, 1);
}

TEST(AlarmTuneFile, HoldsEveryDeclaredTrackAndEachEnds) {
    const auto& facts = tuneFacts();
    ASSERT_EQ(facts.tracks.size(), static_cast<std::size_t>(facts.declaredTracks));
    for (std::size_t i = 0; i < facts.tracks.size(); ++i) {
        EXPECT_TRUE(facts.tracks[i].endsWithEndOfTrack) << "track " << i;
    }
}

// A note still on at the end would hang across every pass of the endless loop.
TEST(AlarmTuneFile, LeavesNoNoteSounding) {
    int notes = 0;
    for (const auto& track : tuneFacts().tracks) {
        EXPECT_EQ(track.notesLeftSounding, 0);
        notes += track.notes;
    }
    EXPECT_GT(notes, 0);
}

TEST(AlarmTuneFile, LastsAFewSeconds) {
    const double duration = durationSeconds(tuneFacts());
    EXPECT_GE(duration, 2.0);
    EXPECT_LE(duration, 10.0);
}

// ---- Offline rendering.

TEST(RenderAlarm, IsAudibleFromStartToEndOfTheTune) {
    expectSoundFont();
    const auto samples = renderAlarm(false);
    const double duration = durationSeconds(tuneFacts());
    ASSERT_GE(seconds(samples), duration);
    EXPECT_GT(rms(samples, 0, frameAt(duration)), 4 * kAudibleRms);
    EXPECT_EQ(firstQuietWindow(samples, 0, duration), std::nullopt);
}

TEST(RenderAlarm, EndsSoonAfterTheTuneAndSilently) {
    expectSoundFont();
    const auto samples = renderAlarm(false);
    const double duration = durationSeconds(tuneFacts());
    // FluidSynth lets the last notes die away and then idles about two seconds before it ends.
    EXPECT_LE(seconds(samples), duration + 4.0);
    const double lastNotesGone = duration + 1.0;
    ASSERT_GT(seconds(samples), lastNotesGone);
    EXPECT_LT(rms(samples, frameAt(lastNotesGone), samples.size() / kAlarmChannels), kSilentRms);
}

TEST(RenderAlarm, SecondPassAddsExactlyOneTune) {
    expectSoundFont();
    const auto once = renderAlarm(false);
    const auto twice = renderAlarm(true);
    const double duration = durationSeconds(tuneFacts());
    // The player measures time in whole milliseconds and renders in blocks of 64 frames.
    EXPECT_NEAR(seconds(twice) - seconds(once), duration, 0.010);
    EXPECT_EQ(firstQuietWindow(twice, 0, 2 * duration), std::nullopt);
}

TEST(RenderAlarm, LeavesHeadRoom) {
    expectSoundFont();
    const auto samples = renderAlarm(false);
    std::size_t clipped = 0;
    for (const auto sample : samples) {
        clipped += (sample == INT16_MAX || sample == INT16_MIN) ? 1 : 0;
    }
    EXPECT_EQ(clipped, 0u);
}

TEST(RenderAlarm, GivesNothingWithoutItsSoundFont) {
    EXPECT_TRUE(renderAlarm(false, "/nonexistent/veltrin/none.sf2").empty());
}

// ---- The player, heard through a sink.

class CountingSink final {
public:
    AlarmSampleSink sink() {
        return [this](std::span<const std::int16_t> samples) {
            std::lock_guard lock(mutex_);
            frames_ += samples.size() / kAlarmChannels;
            changed_.notify_all();
        };
    }

    bool waitForFrames(std::size_t wanted) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kNoHang, [&] { return frames_ >= wanted; });
    }

    std::size_t frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t frames_ = 0;
};

bool stopsFromAnotherThread(AlarmPlayer& player) {
    auto stopped = std::async(std::launch::async, [&player] { player.stop(); });
    return stopped.wait_for(kNoHang) == std::future_status::ready;
}

FluidSynthAlarmOptions heardBy(CountingSink& sink) {
    FluidSynthAlarmOptions options;
    options.sink = sink.sink();
    return options;
}

TEST(FluidSynthAlarmPlayer, PlayOnceEndsByItselfAfterWhatTheRenderHolds) {
    expectSoundFont();
    CountingSink sink;
    FluidSynthAlarmPlayer player(heardBy(sink));
    player.playOnce();
    ASSERT_TRUE(player.waitUntilSilent(kNoHang));
    EXPECT_FALSE(player.playing());
    EXPECT_EQ(sink.frames(), renderAlarm(false).size() / kAlarmChannels);
}

TEST(FluidSynthAlarmPlayer, LoopOutlastsTwoTunesAndStopsFromAnotherThread) {
    expectSoundFont();
    CountingSink sink;
    FluidSynthAlarmPlayer player(heardBy(sink));
    player.playLoop();
    // One pass ends within four seconds after the tune; only a loop gets this far.
    ASSERT_TRUE(sink.waitForFrames(frameAt(2.5 * durationSeconds(tuneFacts()) + 4.0)));
    EXPECT_TRUE(player.playing());
    ASSERT_TRUE(stopsFromAnotherThread(player));
    EXPECT_FALSE(player.playing());
}

TEST(FluidSynthAlarmPlayer, PlayLoopReplacesAPlayOnce) {
    expectSoundFont();
    CountingSink sink;
    FluidSynthAlarmPlayer player(heardBy(sink));
    player.playOnce();
    player.playLoop();
    ASSERT_TRUE(sink.waitForFrames(frameAt(2.5 * durationSeconds(tuneFacts()) + 4.0)));
    EXPECT_TRUE(player.playing());
    player.stop();
    EXPECT_FALSE(player.playing());
}

TEST(FluidSynthAlarmPlayer, CanPlayAgainAfterAStop) {
    expectSoundFont();
    CountingSink sink;
    FluidSynthAlarmPlayer player(heardBy(sink));
    player.playLoop();
    player.stop();
    const auto before = sink.frames();
    player.playOnce();
    ASSERT_TRUE(player.waitUntilSilent(kNoHang));
    EXPECT_GE(sink.frames() - before, frameAt(durationSeconds(tuneFacts())));
}

TEST(FluidSynthAlarmPlayer, StopWhenIdleReturns) {
    CountingSink sink;
    FluidSynthAlarmPlayer player(heardBy(sink));
    EXPECT_FALSE(player.playing());
    EXPECT_TRUE(stopsFromAnotherThread(player));
    EXPECT_FALSE(player.playing());
}

TEST(FluidSynthAlarmPlayer, UnloadableSoundFontIsSilenceEvenForALoop) {
    CountingSink sink;
    auto options = heardBy(sink);
    options.soundFont = "/nonexistent/veltrin/none.sf2";
    FluidSynthAlarmPlayer player(std::move(options));
    player.playLoop();
    ASSERT_TRUE(player.waitUntilSilent(kNoHang));
    EXPECT_FALSE(player.playing());
    EXPECT_EQ(sink.frames(), 0u);
}

// ---- The player on the sound card. Machines without one (like the test machines) must stay
// silent without an error or a hang; with one, the tune is heard.

TEST(FluidSynthAlarmPlayer, PlayOnceOnTheSoundCardNeitherThrowsNorHangs) {
    expectSoundFont();
    FluidSynthAlarmPlayer player;
    EXPECT_NO_THROW(player.playOnce());
    EXPECT_TRUE(player.waitUntilSilent(kNoHang));
    EXPECT_FALSE(player.playing());
}

TEST(FluidSynthAlarmPlayer, LoopOnTheSoundCardStopsFromAnotherThread) {
    expectSoundFont();
    FluidSynthAlarmPlayer player;
    EXPECT_NO_THROW(player.playLoop());
    ASSERT_TRUE(stopsFromAnotherThread(player));
    EXPECT_FALSE(player.playing());
}

// ---- The choice.

struct ChoiceCase {
    std::string name;
    std::optional<std::filesystem::path> soundFont;
    AlarmPlayerKind expected;
};

void PrintTo(const ChoiceCase& row, std::ostream* out) {
    *out << row.name;
}

class AlarmPlayerChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(AlarmPlayerChoice, Picks) {
    EXPECT_EQ(chooseAlarmPlayer(GetParam().soundFont), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, AlarmPlayerChoice,
                         ::testing::Values(ChoiceCase{"sound_font_found", kTimGm6mbSoundFont,
                                                      AlarmPlayerKind::kFluidSynth},
                                           ChoiceCase{"no_sound_font", std::nullopt,
                                                      AlarmPlayerKind::kSilent}),
                         [](const auto& info) { return info.param.name; });

TEST(AlarmPlayerOnThisMachine, IsFluidSynthWithTimGm6mb) {
    expectSoundFont();
    EXPECT_EQ(findSoundFont(), kTimGm6mbSoundFont);
    const auto player = makeAlarmPlayer();
    EXPECT_NE(dynamic_cast<FluidSynthAlarmPlayer*>(player.get()), nullptr);
}

TEST(SilentAlarmPlayer, NeverPlays) {
    SilentAlarmPlayer player;
    player.playLoop();
    EXPECT_FALSE(player.playing());
    player.playOnce();
    EXPECT_FALSE(player.playing());
    player.stop();
    EXPECT_FALSE(player.playing());
}

}  // namespace
}  // namespace veltrin::platform
