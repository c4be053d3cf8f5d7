// Where a send run stands, as the runner announces it.
#pragma once

#include <QMetaType>

namespace tessaly {

enum class RunState {
    Idle,           // no run yet
    Connecting,     // the checks, the conversion, the connection and its login
    SigningIn,      // an OAuth sign-in in the browser
    Sending,        // the recipients, the notify copy, the goodbye
    Pausing,        // keeping to the messages a minute, or the pause after a block
    WaitingToRetry, // after a temporary failure, before sending to the same recipient again
    Stopping,       // the stop button: the message on its way is finished, no further one starts
    Ended,          // the run is over (see the runner's lastEnd())
};

// True while a run is on: from the checks to its end.
inline bool isRunning(RunState state) { return state != RunState::Idle && state != RunState::Ended; }

} // namespace tessaly

Q_DECLARE_METATYPE(tessaly::RunState)
