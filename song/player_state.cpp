#include "song/player_state.h"

namespace trelmo {

// The one sequencer state of the process; StartSong resets it before every song.
PlayerState Player;

}  // namespace trelmo
