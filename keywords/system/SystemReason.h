#pragma once

#include <QString>

// The system's reason for a failure, in the interface's language whatever
// the locale: the reasons this program meets in Chinese, others as the
// system words them.
QString SystemReason(int code);
