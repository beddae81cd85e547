// What a singing session needs from whoever drives it, beyond the engine's screen: the display
// takes each song as it starts, the score is shown at the end, and the end of a session that
// stopped by itself is announced once everything is quiet. The main dialog and the headless
// scorer implement it. Everything is called on the session's thread (the poller's SetTimeBarPos
// aside, as for the engine).
#pragma once

#include <memory>
#include <string>

#include "engine/engineview.h"
#include "engine/problem.h"
#include "engine/song.h"
#include "engine/songref.h"

namespace engine {

class CSessionView : public CEngineView {
public:
    // A song has been loaded and is about to start: index 0 for a single song or the first song
    // of a medley, 1 to 3 for the medley's next songs. The display takes the song here.
    virtual void SongLoaded(int index, const SongRef& ref,
                            const std::shared_ptr<const CSong>& song) = 0;
    // Practice of a line: an attempt (1, 2, …) starts, after SongLoaded, with the accompaniment
    // from fromMs (the display's clock starts there).
    virtual void PracticeAttemptStarted(int /*attempt*/, int /*fromMs*/) {}
    // The attempt's line is scored (OnLineScored has told the details). The view may stop the
    // session here; otherwise the next attempt starts as a step of its own.
    virtual void PracticeAttemptScored(int /*attempt*/, float /*score*/) {}
    // The song's accompaniment has started; its length in milliseconds (0 when unknown).
    virtual void AccompanimentStarted(int /*lengthMs*/) {}
    // The last song is over: the score window opens, then shows the final score.
    virtual void ShowScore() = 0;
    virtual void SetScore(float score) = 0;
    // The session has ended by itself and is quiet (nothing plays, records or is due): after the
    // score (problem null), or when a medley's next song could not be started (problem says why;
    // it is the view's to show now).
    virtual void SessionEnded(const Problem* problem) = 0;
};

}  // namespace engine
