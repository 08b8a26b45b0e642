// The base interfaces of the graph's deeper interface hierarchies, so that
// QueryInterface of vel::com::Implements answers them too (IFilterGraph of
// IGraphBuilder, IMediaFilter and IPersist of IBaseFilter).
//
// Thread safety: declarations only.
#pragma once

#include "platform/com/comobject.h"
#include "platform/dshow/dshow.h"

VEL_DECLARE_BASE_INTERFACE(IGraphBuilder, IFilterGraph);
VEL_DECLARE_BASE_INTERFACE(IBaseFilter, IMediaFilter);
VEL_DECLARE_BASE_INTERFACE(IMediaFilter, IPersist);
