// The "video" command library: video records, their look-up, the play
// states, and the services the display, layer and transition code call.
#pragma once
#include <atomic>
#include <cstdint>

#include "runtime/objects.h"

struct vlVMState;
struct vlDisplay;
struct vlMutex;
struct vlVideoHandle;
struct vlBitmap;

enum : uint32_t {
  VL_VIDEO_STOPPED = 0,
  VL_VIDEO_PLAYING = 1,
  VL_VIDEO_PAUSED = 2,
  VL_VIDEO_ENDED = 4,  // the player reached the end; waits to be stopped
};

// GetVideoByID flags.
enum : uint32_t { VL_VIDEO_CHANGE = 1, VL_VIDEO_HIDDEN_TOO = 2, VL_VIDEO_NO_LAYER_COPY = 4 };

struct vlVideo {
  vlObjectNode node;  // type 50
  vlVideoHandle* player;
  vlBitmap* frameBitmap;
  int32_t x, y;
  int32_t scaledX, scaledY;
  int32_t nativeWidth, nativeHeight;
  int32_t width, height;
  int32_t scaledWidth, scaledHeight;
  uint32_t smooth;
  int32_t length;
  std::atomic<uint32_t> state;  // set to ended by the refresh thread
  vlDisplay* display;
  int32_t volume;
  uint32_t seekable;
  uint32_t onLayer;
  uint32_t hiddenCopy;
  uint32_t locked;
  char fileName[1024];
  char adapter[256];
  uintptr_t loader;
  void* spriteNode;
};

struct vlVideoLibrary {
  vlVideo* videos;
  vlMutex* listMutex;
  char loaderSelection[32];
};
extern vlVideoLibrary gVideo;

int OpenVideoLib(vlVMState* state);
// Stops every active video (its player threads end; the records stay).
void StopAllVideos(vlVMState* state);
// Stops every active video, then frees every record.
void FreeVideoLib(vlVMState* state);

int GetVideoByID(vlVMState* state, vlObjectId id, uint32_t flags, vlVideo** out);
int AddVideo(vlVMState* state, vlObjectId* id, const char* file, const char* loader, const char* adapter,
             uint32_t hidden, vlVideo** out);
void FreeVideoRecord(vlVMState* state, vlVideo* video);
// Closes a video as CloseVideo does: one a layer still shows becomes that
// layer's nameless copy, any other is stopped and freed.
int CloseVideoRecord(vlVMState* state, vlVideo* video);
// The copy takes over the video's player, play state, layer and frame
// picture with its place, size and volume; the video is left stopped, off
// layers, with the copy's fresh player.
void MoveVideoPlayback(vlVideo* from, vlVideo* to);
// Gives a listed video another identifier; 0, or 1000 with nothing changed.
int RenameVideo(vlVideo* video, vlObjectId id);

// Services for the display code.
vlVideo* FindVideoAtPoint(vlDisplay* display, int32_t x, int32_t y);
int IsVideoOnDisplay(vlDisplay* display, int skipLayers, int layersToo);
void ScaleVideosToDisplay(vlVMState* state, vlDisplay* display);
void StopDisplayVideos(vlVMState* state, vlDisplay* display);
// After a display refresh: paused and ended videos outside layers draw
// their frame again.
void RedrawDisplayVideos(vlVMState* state, vlDisplay* display);

// Engines of the commands.
// With a layer record the video plays into that layer.
struct vlLayer;
int StartVideoPlayback(vlVMState* state, vlVideo* video, int tagIndex, int32_t x, int32_t y, int useLayer,
                       int32_t channel, vlLayer* layer = nullptr);
int StopVideoPlayback(vlVMState* state, vlVideo* video, int refresh, int forgetLayer);
// Stops the video of that id when it plays: what taking its sound's
// channel over (StopChannel, a sample or music played on the channel)
// does. The caller holds no channel lock (the player's audio thread takes
// it while the video stops).
void StopVideoOfChannel(vlVMState* state, vlObjectId id);
int PauseVideoPlayback(vlVideo* video);
int ResumeVideoPlayback(vlVideo* video);
int SeekVideoTo(vlVideo* video, int32_t position);
void ApplyVideoVolume(vlVideo* video, int32_t volume);
// The selection checks (brush, anim, mask, alpha channel) on the display.
int CheckVideoOutput(vlDisplay* display);
// The display's scaled values of the video's position and size.
void ScaleVideoRect(vlVideo* video, vlDisplay* display);
// The video's rectangle scaled to the display and handed to its player
// (and to the adapter's on-screen sprite of the video).
void ApplyVideoRect(vlVideo* video, vlDisplay* display);
