#include "app/trelvin.h"

// The QRZ client is not built yet.
void Trelvin::connectQRZ() {}
void Trelvin::getContact() {}
void Trelvin::getStation() {}
void Trelvin::saveStation() {}
void Trelvin::setStationDetails() {}
