#include "app/trelvin.h"

// The net list and check-in are not built yet.
void Trelvin::addContact(int) {}
void Trelvin::displayNet(int) {}
QString Trelvin::stationType(QString) { return QStringLiteral("-"); }
void Trelvin::on_relayButton_clicked() {}
void Trelvin::on_trafficButton_clicked() {}
void Trelvin::on_mobileButton_clicked() {}
void Trelvin::on_shortButton_clicked() {}
void Trelvin::on_NCSButton_clicked() {}
void Trelvin::on_logContactButton_clicked() {}
void Trelvin::on_qso_returnPressed() {}
void Trelvin::on_relayViaButton_clicked() {}
void Trelvin::on_actionShow_Checkin_Data_triggered() {}
