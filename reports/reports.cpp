#include "app/trelvin.h"

// The database reports are not built yet.
void Trelvin::showCurrentTrelvin() {}
void Trelvin::on_actionShow_Net_Log_Select_triggered() {}
void Trelvin::on_actionShowClubRoster_triggered() {}
void Trelvin::on_actionShowContacts_triggered() {}
void Trelvin::on_actionShowTrelvin_triggered() {}
void Trelvin::on_actionShow_QSO_History_Log_triggered() {}
void Trelvin::showDatabase() {}
void Trelvin::showContacts() {}
void Trelvin::showRoster() {}
void Trelvin::showQsoHistory(QString, int) {}
void Trelvin::showTrelvin() {}
