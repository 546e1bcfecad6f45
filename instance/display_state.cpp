#include "instance/display_state.h"

t_ShowData ShowData;
