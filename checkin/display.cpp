#include "app/trelvin.h"
#include "checkin/textrules.h"

// Contact display is not built yet.
void Trelvin::displayContact(QString, int) {}
void Trelvin::on_state_textChanged(QString) {}

void Trelvin::bearDist(double lat1, double lon1, double lat2, double lon2, int &bear, int &dist)
{
    const BearingDistance result = greatCircle(lat1, lon1, lat2, lon2);
    bear = result.bearing;
    dist = result.distance;
}
