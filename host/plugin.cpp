// SPDX-License-Identifier: BSD-3-Clause
// The module descriptor the player keeps, and the callbacks it drives playback through.
#include "host/plugin.h"

#include <cstddef>
#include <cstdio>

#include "host/about.h"
#include "host/mixer_thread.h"
#include "host/platform.h"
#include "instruments/read_whole_file.h"
#include "song/ntg_song.h"
#include "song/song_loader.h"
#include "synth/tick_timing.h"
#include "synth/voice_bank.h"

namespace trelmo {

namespace {

// The plug-in's diagnostics go to standard output, where the player's console shows them.
void PrintMessage(void*, const char* text) {
    std::fputs(text, stdout);
}

Engine& MakePluginEngine() {
    static Engine engine;
    engine.messages = MessageSink{PrintMessage, nullptr};
    return engine;
}

}  // namespace

Engine& PluginEngine = MakePluginEngine();
char CurrentFilePath[MaxPathLength + 1];
int PausedFlag = 0;

namespace {

constexpr int OutputChannels = 2;
constexpr int OutputBits = 16;
// The player's reserved volume value: the output module keeps its own current volume.
constexpr int KeepCurrentVolume = -666;
constexpr int UnknownLength = -1000;
// Play's results, as the player reads them.
constexpr int PlayStarted = 0;
constexpr int PlayFileUnreadable = -1;
constexpr int PlayFailed = 1;

char Description[] = "Trelmo 0.99a (x86)";
// Extension and description pairs; the literal's own terminator is the extra zero that ends the list.
char FileExtensionList[] = "mtp\0MTP (SoundSmith) (*.MTP)\0ntg\0NoiseTracker GS (*.NTG)\0";

// Host's thread only: Play opened the output and the visualisation, so Stop has them to shut down.
bool PlaybackOpen = false;

// Length of text, or limit when text is at least that long (text need not end within the limit).
size_t BoundedLength(const char* text, size_t limit) {
    size_t length = 0;
    while (length < limit && text[length] != '\0') ++length;
    return length;
}

// Copies up to MaxPathLength characters of source and a terminator into destination.
void CopyPath(const char* source, char* destination) {
    const size_t length = BoundedLength(source, MaxPathLength);
    for (size_t i = 0; i < length; ++i) destination[i] = source[i];
    destination[length] = '\0';
}

// Only the first bytes: whether the file opens and is a regular file is all that is asked.
bool FileCanBeRead(const char* path) {
    FileBlock block = ReadFileStart(path, SongKindBytes);
    const bool ok = block.ok;
    ReleaseFileBlock(block);
    return ok;
}

void TRELMO_CDECL Config(WindowHandle parent) {
    ShowMessageBox(parent, "Nothing to configure yet.", "Configuration");
}

void TRELMO_CDECL About(WindowHandle parent) {
    ShowMessageBox(parent, AboutText, "About Trelmo");
}

// Init, SetOutputTime and EQSet have nothing to do: nothing is set up at load, nothing is seekable
// and there is no equaliser. Each keeps its own signature so every call matches its callee.
void TRELMO_CDECL DoNothing() {}
void TRELMO_CDECL IgnoreOutputTime(int) {}
void TRELMO_CDECL IgnoreEqualizer(int, char*, int) {}

void TRELMO_CDECL GetFileInfo(const char* file, char* title, int* lengthInMs) {
    const char* path = (file == nullptr || file[0] == '\0') ? CurrentFilePath : file;
    if (title != nullptr) {
        const char* start = path;
        // A drive-letter path shows only its file name. Without a backslash ("D:SONG.MTP") the name
        // is what follows the colon. UNC and relative paths show whole.
        if (path[0] != '\0' && path[1] == ':') {
            start = path + 2;
            for (const char* p = start; *p != '\0'; ++p) {
                if (*p == '\\') start = p + 1;
            }
        }
        const size_t length = BoundedLength(start, MaxPathLength);
        for (size_t i = 0; i < length; ++i) title[i] = start[i];
        title[length] = '\0';
    }
    if (lengthInMs != nullptr) *lengthInMs = UnknownLength;
}

// The player calls Quit before it unloads the library: the song that stays loaded after Stop
// would otherwise be lost with it. Loading "no file" releases it and leaves no song loaded.
void TRELMO_CDECL Quit() {
    StopMixer();
    PluginEngine.SongPath[0] = '\0';
    LoadSong(PluginEngine);
}

int TRELMO_CDECL InfoBox(const char*, WindowHandle) {
    return 0;
}

// Decided by the file's contents alone: players hand over files whatever their names.
// Only the bytes the kind test looks at are read: the player asks about every file it lists.
int TRELMO_CDECL IsOurFile(const char* file) {
    FileBlock block = ReadFileStart(file, SongKindBytes);
    if (!block.ok) return 0;
    const int16_t kind = DetectSongKind(block.data, block.size);
    ReleaseFileBlock(block);
    return (kind == SoundSmithSong || kind == NoiseTrackerSong) ? 1 : 0;
}

int TRELMO_CDECL Play(const char* file) {
    const char* path = file != nullptr ? file : "";
    const bool fits = BoundedLength(path, MaxPathLength + 1) <= MaxPathLength;
    // A path too long to hold is a file that cannot be read; the previous song is released all the same.
    CopyPath(fits ? path : "", CurrentFilePath);
    CopyPath(fits ? path : "", PluginEngine.SongPath);
    LoadSong(PluginEngine);
    // A file that cannot play gets no output and no thread, so the player moves on instead of
    // rendering silence for ever.
    if (PluginEngine.SongKind == NoSong) {
        return FileCanBeRead(PluginEngine.SongPath) ? PlayFailed : PlayFileUnreadable;
    }

    Out_Module* output = Module.outMod;
    const int latency = output->Open(static_cast<int>(OutputRate), OutputChannels, OutputBits, -1, -1);
    if (latency < 0) return PlayFailed;
    const int tracks = PluginEngine.SongKind == NoiseTrackerSong ? NtgTrackCount(PluginEngine) : VoiceCount;
    Module.SetInfo(tracks, static_cast<int>(OutputRate / 1000), OutputChannels, 1);
    Module.SAVSAInit(latency, static_cast<int>(OutputRate));
    Module.VSASetInfo(static_cast<int>(OutputRate), OutputChannels);
    output->SetVolume(KeepCurrentVolume);
    PlaybackOpen = true;
    StartSong(PluginEngine);
    StartMixer();
    return PlayStarted;
}

void TRELMO_CDECL Pause() {
    PausedFlag = 1;
    Module.outMod->Pause(1);
}

void TRELMO_CDECL UnPause() {
    PausedFlag = 0;
    Module.outMod->Pause(0);
}

int TRELMO_CDECL IsPaused() {
    return PausedFlag;
}

// The thread writes to the output and feeds the visualisation until it has stopped, so both are shut
// down only after it. The song stays loaded until the next Play.
void TRELMO_CDECL Stop() {
    StopMixer();
    if (!PlaybackOpen) return;
    PlaybackOpen = false;
    Module.outMod->Close();
    Module.SAVSADeInit();
}

int TRELMO_CDECL GetLength() {
    return UnknownLength;
}

int TRELMO_CDECL GetOutputTime() {
    return Module.outMod->GetOutputTime();
}

void TRELMO_CDECL SetVolume(int volume) {
    Module.outMod->SetVolume(volume);
}

void TRELMO_CDECL SetPan(int pan) {
    Module.outMod->SetPan(pan);
}

}  // namespace

In_Module Module = {
    .version = 0x100,
    .description = Description,
    .hMainWindow = nullptr,
    .hDllInstance = nullptr,
    .FileExtensions = FileExtensionList,
    .is_seekable = 0,
    .UsesOutputPlug = 1,
    .Config = Config,
    .About = About,
    .Init = DoNothing,
    .Quit = Quit,
    .GetFileInfo = GetFileInfo,
    .InfoBox = InfoBox,
    .IsOurFile = IsOurFile,
    .Play = Play,
    .Pause = Pause,
    .UnPause = UnPause,
    .IsPaused = IsPaused,
    .Stop = Stop,
    .GetLength = GetLength,
    .GetOutputTime = GetOutputTime,
    .SetOutputTime = IgnoreOutputTime,
    .SetVolume = SetVolume,
    .SetPan = SetPan,
    .SAVSAInit = nullptr,
    .SAVSADeInit = nullptr,
    .SAAddPCMData = nullptr,
    .SAGetMode = nullptr,
    .SAAdd = nullptr,
    .VSAAddPCMData = nullptr,
    .VSAGetMode = nullptr,
    .VSAAdd = nullptr,
    .VSASetInfo = nullptr,
    .dsp_isactive = nullptr,
    .dsp_dosamples = nullptr,
    .EQSet = IgnoreEqualizer,
    .SetInfo = nullptr,
    .outMod = nullptr,
};

}  // namespace trelmo
