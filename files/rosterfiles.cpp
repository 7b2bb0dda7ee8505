#include "app/trelvin.h"

// Roster files are not built yet.
void Trelvin::loadMember(QString) {}
void Trelvin::saveRoster(QString) {}
