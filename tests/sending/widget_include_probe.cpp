// Must not compile: the send run's library has no widgets on its include path (see CMakeLists.txt).
#include "sending/send_runner.h"

#include <QWidget>
