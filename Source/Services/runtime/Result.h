// The outcome of every service call: the platform's Result, used as it stands. Service replies
// use Result<ServiceChannel::OptionalBody, ServiceError>; typed methods use Result<T, ServiceError>,
// with kx::Unit for methods that return nothing.
#pragma once

#include "Platform/Foundation/Result.h"
