#include "app/trelvin.h"
#include "checkin/textrules.h"

// Entry editing and removal are not built yet.
void Trelvin::on_call_returnPressed() {}
void Trelvin::on_name_returnPressed() {}
void Trelvin::on_city_returnPressed() {}
void Trelvin::on_state_returnPressed() {}
void Trelvin::on_call_textEdited(QString) {}
void Trelvin::on_state_textEdited(QString) {}
void Trelvin::on_relay_textEdited(QString) {}
void Trelvin::on_name_textEdited(QString) {}
void Trelvin::on_city_textEdited(QString) {}
void Trelvin::delNet() {}
void Trelvin::delCon() {}
void Trelvin::on_delRecBut_clicked() {}

QString Trelvin::removeNULLs(QString str)
{
    return removeNuls(str);
}
