// Anims and sprites of the anim tests by their numbers; null when missing.
#pragma once
#include "objects/anims/anim.h"
#include "objects/sprites/sprite.h"

namespace vltest {

inline vlAnim* FindAnim(vlVMState* L, int n) {
  vlAnim* a = nullptr;
  return GetAnimByID(L, {n, nullptr}, &a, VL_ANIM_NOLAYERCOPY) == 0 ? a : nullptr;
}
inline vlSprite* FindSprite(vlVMState* L, int n) {
  vlSprite* s = nullptr;
  return GetSpriteByID(L, {n, nullptr}, &s, 0) == 0 ? s : nullptr;
}

}  // namespace vltest
