// Phases not yet built: each goes on without doing anything, so the driver's order, the
// abandon rule and the output groups already work end to end.
#include "frame/phases.h"
#include "frame/vlcrun.h"

namespace velloc {

int vlcpset(VlcRun&) {
    return 0;
}
int vlcpltd(VlcRun&) {
    return 0;
}
int vlcpltx(VlcRun&) {
    return 0;
}
int vlcpltc(VlcRun&) {
    return 0;
}
int vlcplta(VlcRun&) {
    return 0;
}
int vlcpltj(VlcRun&) {
    return 0;
}
int vlcpltw(VlcRun&) {
    return 0;
}
int vlcplsd(VlcRun&) {
    return 0;
}
int vlcplsx(VlcRun&) {
    return 0;
}
int vlcplsc(VlcRun&) {
    return 0;
}
int vlcplsa(VlcRun&) {
    return 0;
}
int vlcplsj(VlcRun&) {
    return 0;
}

} // namespace velloc
