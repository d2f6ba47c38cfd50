// The one place that picks the alarm player of this machine.
#include <system_error>

#include "platform/Sound.h"

namespace veltrin::platform {

std::optional<std::filesystem::path> findSoundFont() {
    // Debian's default-GM.sf2 is an alternatives link to whichever General MIDI font is installed.
    const std::filesystem::path candidates[] = {kTimGm6mbSoundFont,
                                                "/usr/share/sounds/sf2/default-GM.sf2"};
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return std::nullopt;
}

AlarmPlayerKind chooseAlarmPlayer(const std::optional<std::filesystem::path>& soundFont) {
    return soundFont ? AlarmPlayerKind::kFluidSynth : AlarmPlayerKind::kSilent;
}

std::unique_ptr<AlarmPlayer> makeAlarmPlayer() {
    const auto soundFont = findSoundFont();
    if (chooseAlarmPlayer(soundFont) == AlarmPlayerKind::kFluidSynth) {
        FluidSynthAlarmOptions options;
        options.soundFont = *soundFont;
        return std::make_unique<FluidSynthAlarmPlayer>(std::move(options));
    }
    return std::make_unique<SilentAlarmPlayer>();
}

}  // namespace veltrin::platform
