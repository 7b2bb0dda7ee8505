#include "app/trelvin.h"

// Call search and navigation are not built yet.
void Trelvin::displayCandidates() {}
void Trelvin::selectSearch() {}
void Trelvin::topContact() {}
void Trelvin::previousContact() {}
void Trelvin::nextContact() {}
void Trelvin::endContact() {}
