// The song list's preview for window tests: songs are loaded and their music opened as in the
// program, but no output device is ever opened.
#pragma once

#include <memory>

#include "engine/songmusic.h"
#include "platform/previewplayer.h"

namespace testing_support {

inline std::unique_ptr<platform::CPreviewPlayer> SilentPreview() {
    return std::make_unique<platform::CPreviewPlayer>(&engine::SongPreviewMusic,
                                                      platform::CAccompanimentPlayer::Output::None);
}

}  // namespace testing_support
