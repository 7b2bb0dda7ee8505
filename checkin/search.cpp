#include "app/trelvin.h"
#include "checkin/textrules.h"

// Call search and navigation are not built yet.
void Trelvin::on_search_textEdited(QString) {}
void Trelvin::displayCandidates() {}
void Trelvin::on_search_returnPressed() {}
void Trelvin::selectSearch() {}
void Trelvin::topContact() {}
void Trelvin::previousContact() {}
void Trelvin::nextContact() {}
void Trelvin::endContact() {}
void Trelvin::selectContact(int) {}

QString Trelvin::justifyDigit(QString call)
{
    return ::justifyDigit(call);
}
