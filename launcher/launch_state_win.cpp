#include "launcher/launch_state.h"
#include "launcher/run_flags.h"
#include "service/service_state.h"

namespace korvane {

LaunchState launchState;
RunFlags runFlags;
ServiceState serviceState;

} // namespace korvane
