#include "app/trelvin.h"

// Roster membership keys are not built yet.
void Trelvin::enableMemberStatus() {}
void Trelvin::disableMemberStatus() {}
