// The text output commands of the "text" library.
#pragma once

struct vlVMState;

int CmdSetFontColor(vlVMState* state);
int CmdTextHeight(vlVMState* state);
int CmdTextWidth(vlVMState* state);
int CmdTextExtent(vlVMState* state);
int CmdResetTabs(vlVMState* state);
int CmdAddTab(vlVMState* state);
int CmdLocate(vlVMState* state);
int CmdSetMargins(vlVMState* state);
int CmdSetFontStyle(vlVMState* state);
int CmdPrint(vlVMState* state);
int CmdNPrint(vlVMState* state);
int CmdTextOut(vlVMState* state);
int CmdSetDefaultEncoding(vlVMState* state);
int CmdGetKerningPair(vlVMState* state);
int CmdInKeyStr(vlVMState* state);
