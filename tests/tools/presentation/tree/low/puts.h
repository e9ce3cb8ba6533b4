void SendPuts();
void HoldPuts(int on);
extern int* gOutput;
inline void Pick(int* to) { SetTarget (to); }
