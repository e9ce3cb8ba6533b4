// Handlers of the layers library that live outside layers_library.cpp.
#pragma once

struct vlVMState;

int CmdCreateLayer(vlVMState* state);
int CmdInsertLayer(vlVMState* state);
int CmdSelectLayer(vlVMState* state);
int CmdSetLayerStyle(vlVMState* state);
int CmdGetLayerStyle(vlVMState* state);
int CmdSetLayerTransparency(vlVMState* state);
int CmdSetLayerTint(vlVMState* state);
int CmdScaleLayer(vlVMState* state);
int CmdRotateLayer(vlVMState* state);
int CmdTransformLayer(vlVMState* state);
int CmdSetLayerAnchor(vlVMState* state);
int CmdSetLayerFilter(vlVMState* state);
int CmdPlayLayer(vlVMState* state);
int CmdStopLayer(vlVMState* state);
int CmdPauseLayer(vlVMState* state);
int CmdResumeLayer(vlVMState* state);
int CmdSeekLayer(vlVMState* state);
int CmdSetLayerVolume(vlVMState* state);
int CmdAddMove(vlVMState* state);
int CmdDoMove(vlVMState* state);
int CmdClearMove(vlVMState* state);
