#ifndef KST_SHARED_CODE_H
#define KST_SHARED_CODE_H

#include <QString>

// Every running panel has its own copy of the firmware library, so that each
// has its own variables; the copies' code and constants are the same bytes.
// Loaded from separate files they would still be separate pages of memory,
// and a host running hundreds of panels would run hundreds of copies of the
// same code through the processor's caches every 10 ms. This maps the
// read-only segments (code, constants, symbol tables) of a loaded copy onto
// the pages of a sealed in-memory image of the library it was copied from,
// so that all panels run one set of code pages while each keeps its own
// writable segment. The image, not the library file, because a file
// overwritten in place would change the code under every running panel.
//
// copyPath: a library loaded by this process (as passed to the loader);
// originalPath: the file it was copied from. Returns the image's number
// (above 0), to be released with kst_release_code_image() when the copy is
// unloaded. Nothing is changed when the copy is not loaded, the original
// cannot be read or its image mapped, or any byte of those segments differs
// (another build of the library): 0 then, with the reason in *why. Call it
// before the copy's code runs on any thread other than the calling one.
int kst_share_code_pages(const QString &copyPath, const QString &originalPath, QString *why);

// A copy on the image is gone. The image's descriptor is closed with the
// last copy (their mappings keep what they map).
void kst_release_code_image(int image);

// Whether hosts share code pages (the default); TESSALINE_SHARED_CODE=0 in
// the environment keeps every copy on its own pages, for comparison.
bool kst_shared_code_enabled();

#endif
