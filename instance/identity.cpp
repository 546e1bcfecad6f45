#include "instance/identity.h"

plat::UINT MESSAGE = 0;
int PocSpusteni = 0;
char AppName[32];
plat::HWND g_hwndMain = nullptr;
