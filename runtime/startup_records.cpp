// Presets of the run's two records and the extra-argument list they own.
// Depends on nothing but the C library.
#include "runtime/startup_records.h"

#include <cstdlib>
#include <cstring>

vlAppletInfo* vlCurrentApplet = nullptr;
vlStartupRecord* vlCurrentStartup = nullptr;

void InitBackfillRecord(vlBackfillBlock* block) {
  std::memset(block, 0, sizeof(*block));
  block->color = -1;
  block->endColor = -1;
  block->x = -100000;
  block->y = -100000;
  block->transColor = -1;
}

void FreeExtraArgs(vlExtraArg** list) {
  vlExtraArg* node = *list;
  while (node) {
    vlExtraArg* next = node->next;
    std::free(node->name);
    std::free(node->value);
    std::free(node);
    node = next;
  }
  *list = nullptr;
}

void InitStartupDefaults(vlAppletInfo* applet, vlStartupRecord* startup) {
  vlDisplayCmdOverrides& o = applet->overrides;
  o.mode = 0;
  o.screenWidth = o.screenHeight = o.screenDepth = -1;
  o.scaleWidth = o.scaleHeight = 0;
  o.flagBits = 0;
  o.monitor = 0;
  o.monitorGiven = 0;
  InitBackfillRecord(&o.backfill);
  o.xServer[0] = '\0';
  applet->versionMajor = 6;
  applet->versionMinor = 1;
  startup->soundSetting = 30;
  startup->soundWords[0] = 512;
  startup->soundWords[1] = 50;
  startup->soundWords[2] = 90;
}
