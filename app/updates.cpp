#include "app/trelvin.h"

// The update check is not built yet; these keep start-up and the menu inert.
void Trelvin::checkUpdates() {}

void Trelvin::on_actionCheck_for_Updates_triggered() {}
