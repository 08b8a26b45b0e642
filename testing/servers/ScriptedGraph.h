// A stand-in for the media graph (libVelScriptedGraph.so), registered for
// CLSID_FilterGraph in a test's store in place of libveldshow.so, so a test
// drives every branch of a graph user with answers it chooses.
//
// The file handed to RenderFile or AddSourceFilter carries the script in its
// first line; the rest of the file is padding (its size is the file size a
// reader sees):
//
//   #scripted-graph render=0x00040257 duration=80000000 bitrate=0 width=640
//
// Keys (numbers decimal or 0x-hex; absent keys take the default):
//   render=HR        RenderFile's answer (S_OK)
//   source=HR        AddSourceFilter's answer (S_OK)
//   pins=LIST        the source filter's pins, "," between pins; each pin is
//                    "out:" or "in:" and its media types' major types joined
//                    by "|": vids, auds, strm (e.g. "out:auds,out:vids|auds")
//   duration=N       GetDuration in 100-ns units (0)
//   frames=N         GetDuration after SetTimeFormat(TIME_FORMAT_FRAME) (0)
//   frameformat=HR   IsFormatSupported(TIME_FORMAT_FRAME) (S_FALSE)
//   settimeformat=HR SetTimeFormat's answer (S_OK)
//   bitrate=N width=N height=N avgtime=SECONDS   IBasicVideo's figures (0)
//   videohr=HR       the IBasicVideo getters' answer (S_OK); a failing getter
//                    leaves its out-parameter as it found it
//   noseeking=1 novideo=1   QueryInterface refuses IMediaSeeking / IBasicVideo
// A file without the script line is VFW_E_UNKNOWN_FILE_TYPE, a missing one
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
//
// Thread safety: each graph guards its script; the counters are atomic.
#pragma once

#include "platform/com/types.h"

// The module's objects alive now (graphs, filters, pins, enumerators and the
// IUnknown of every media type handed out): 0 when a user released all.
extern "C" LONG ScriptedGraphLiveObjects();
// Media types IEnumMediaTypes::Next handed out since the module was loaded.
extern "C" LONG ScriptedGraphMediaTypesHandedOut();
