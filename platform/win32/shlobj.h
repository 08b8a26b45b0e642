// Shell special folders by CSIDL number, and the shell's allocator.
//
// CSIDL_MYMUSIC (13), CSIDL_MYVIDEO (14) and CSIDL_MYPICTURES (39) are the
// user's XDG music, videos and pictures folders: XDG_MUSIC_DIR, XDG_VIDEOS_DIR
// and XDG_PICTURES_DIR of $XDG_CONFIG_HOME/user-dirs.dirs (~/.config by
// default), else ~/Music, ~/Videos, ~/Pictures. The folder need not exist.
// Other numbers answer E_INVALIDARG.
//
// Item lists come from the shell allocator (SHGetMalloc), which frees them.
//
// Thread safety: any thread.
#pragma once

#include "platform/com/interfaces.h"
#include "platform/com/types.h"

constexpr int CSIDL_MYMUSIC = 0x000d;
constexpr int CSIDL_MYVIDEO = 0x000e;
constexpr int CSIDL_MYPICTURES = 0x0027;

#pragma pack(push, 1)
struct SHITEMID {
  USHORT cb;  // size of this item, cb included
  BYTE abID[1];
};
struct ITEMIDLIST {
  SHITEMID mkid;  // items follow one another; an item of cb 0 ends the list
};
#pragma pack(pop)
using LPITEMIDLIST = ITEMIDLIST*;
using LPCITEMIDLIST = const ITEMIDLIST*;

extern "C" const IID IID_IMalloc;

struct IMalloc : IUnknown {
  STDMETHOD_(void*, Alloc)(SIZE_T cb) = 0;
  STDMETHOD_(void*, Realloc)(void* pv, SIZE_T cb) = 0;
  STDMETHOD_(void, Free)(void* pv) = 0;
  STDMETHOD_(SIZE_T, GetSize)(void* pv) = 0;
  STDMETHOD_(int, DidAlloc)(void* pv) = 0;
  STDMETHOD_(void, HeapMinimize)() = 0;
};
VEL_DECLARE_IID(IMalloc, IID_IMalloc);

extern "C" {

HRESULT SHGetSpecialFolderLocation(HWND hwnd, int csidl, LPITEMIDLIST* ppidl);
// pszPath receives at most MAX_PATH characters; a longer path fails (FALSE).
BOOL SHGetPathFromIDListW(LPCITEMIDLIST pidl, LPWSTR pszPath);
HRESULT SHGetMalloc(IMalloc** ppMalloc);

}  // extern "C"
