void SendPuts();
void HoldPuts(int on);
