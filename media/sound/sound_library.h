// The "sound" command library: its open and free routines, the sample and
// music look-ups and record handling the commands share, the run-time
// option hook and the object query of samples and music.
#pragma once
#include <cstdint>

#include "media/sound/sound_types.h"

// GetAttribute of samples and music objects.
void InstallSoundAttributes();
int OpenSoundLib(vlVMState* state);
// Shut-down: ends every channel, frees every sample and music, closes the
// audio output and frees the channel layer.
void FreeSoundLib(vlVMState* state);

// The video-recording word: while set, PlaySample leaves its samples
// prepared.
extern uint32_t vlVideoRecordingMode;

// 0 with the record, or 1041 / 1178 (number in the error index).
int GetSampleByID(vlObjectId id, vlSample** out);
int GetMusicByID(vlObjectId id, vlMusic** out);
// Appends a music to the list and its index (0 or 1000); takes it out again.
int LinkMusic(vlMusic* music);
void UnlinkMusicNode(vlMusic* music);
// Unlinks and frees a sample (its channels ended); 1178/1041 when missing
// and mustExist is set, else 0.
int FreeSampleByID(vlVMState* state, vlObjectId id, int mustExist);
// Appends a sample record owning data: 0 or 1000 (data then freed).
int AppendSample(vlVMState* state, vlObjectId id, vlSoundData* data, uint32_t format, uint32_t pitch,
                 const vlPluginInfo* loader, vlSample** out);
// The id a creating command hands back.
vlObjectId SampleId(const vlSample* sample);
vlObjectId MusicId(const vlMusic* music);
// Starts the audio output if needed: 0 when it runs, 1 when the library is
// (now) silent.
int EnsureAudioOutput(vlVMState* state);
// Reads a volume argument (number or "N%" of 64), clamped to 0..64.
uint32_t GetVolumeArg(vlVMState* state, int index);
// The "volume" field of an options table read the same way into *out; 0
// when the table has none.
int GetVolumeField(vlVMState* state, int table, uint32_t* out);
// A panning value with the position constants resolved, clamped 0..255.
uint32_t MapPanning(double value);
// Runs PumpEvents (no hooks) and sleeps 10 ms: the pump's result.
int PumpAndSleep(vlVMState* state);

// Object query of samples (object type 2) and music (33): 1 with the
// answer in words (word 1 the number, word 2 a text pointer), 0 when the
// object is missing or the code is not handled.
int QuerySoundObject(uint32_t type, vlObjectId id, int code, intptr_t* word1, intptr_t* word2);
// Plug-in service: 1 with the sample's format, PCM block, bytes and pitch.
int GetSampleInfo(vlObjectId id, uint32_t* format, vlSoundData** data, uint32_t* bytes, uint32_t* pitch);
// The music's module position: op 0 sets the song position, 1 answers the
// pattern row, 2 the song position (-1 while the module does not play).
int ModulePositionOp(vlMusic* music, int op, int value);
// Polled by the event dispatcher: frames the first playing callback-fed
// music lacks for one second of sound.
uint32_t FindMusicNeedingData(vlObjectId* id, uint32_t* queued);

// Command handlers shared across the library's files.
int CmdLoadSample(vlVMState* state);
int CmdFreeSample(vlVMState* state);
int CmdCreateSample(vlVMState* state);
int CmdCopySample(vlVMState* state);
int CmdInsertSample(vlVMState* state);
int CmdGetSampleData(vlVMState* state);
int CmdSaveSample(vlVMState* state);
int CmdPlaySample(vlVMState* state);
int CmdStopSample(vlVMState* state);
int CmdIsSamplePlaying(vlVMState* state);
int CmdWaitSampleEnd(vlVMState* state);
int CmdSetVolume(vlVMState* state);
int CmdSetPitch(vlVMState* state);
int CmdSetPanning(vlVMState* state);
int CmdIsSample(vlVMState* state);
int CmdOpenMusic(vlVMState* state);
int CmdCloseMusic(vlVMState* state);
int CmdPlayMusic(vlVMState* state);
int CmdStopMusic(vlVMState* state);
int CmdPauseMusic(vlVMState* state);
int CmdResumeMusic(vlVMState* state);
int CmdSeekMusic(vlVMState* state);
int CmdSetMusicVolume(vlVMState* state);
int CmdIsMusic(vlVMState* state);
int CmdIsMusicPlaying(vlVMState* state);
int CmdCreateMusic(vlVMState* state);
int CmdFillMusicBuffer(vlVMState* state);
int CmdFlushMusicBuffer(vlVMState* state);
int CmdGetPatternPosition(vlVMState* state);
int CmdIsSound(vlVMState* state);
int CmdSetMasterVolume(vlVMState* state);
int CmdMixSampleEntry(vlVMState* state);
int CmdIsChannelPlaying(vlVMState* state);
int CmdHaveFreeChannel(vlVMState* state);
int CmdStopChannel(vlVMState* state);
int CmdGetChannels(vlVMState* state);
int CmdSetChannelVolume(vlVMState* state);
int CmdGetSongPosition(vlVMState* state);
int CmdPlaySubsong(vlVMState* state);
int CmdWaitPatternPosition(vlVMState* state);
int CmdWaitSongPosition(vlVMState* state);
