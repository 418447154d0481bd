// libxml2's SAX2 push parser as the product pass's second event source.
//
// It builds no node for anything, so it is about twice as fast as the
// streaming reader and its memory does not grow with what stands between
// records.  It hands the conversion exactly the events the reader would,
// for the documents it handles: well-formed, without a document type,
// without entity references other than the predefined ones and character
// references, without CDATA sections, without prefixed element names, and
// without a "&" in an attribute the conversion reads.  On anything else, or
// on any message of the parser, it gives up (kFallback) and the input is
// converted again by the reader.
#ifndef L2_PUSH_PARSER_H
#define L2_PUSH_PARSER_H

#include <string>

#include "events.h"
#include "input.h"

enum class PushResult {
    kConverted,  // every event was handed on; the document ended well-formed
    kFallback,   // the reader must convert the input (again)
};

// Whether libxml2 has the per-thread state it needs on this thread (it is
// allocated on first use; releases before 2.12 crash when that fails, later
// ones end the process).  Allocates it now where it is missing.
bool libxml2_thread_ready();

// Parses the file read by `input` (named `path`), handing its events to
// `events`.  Stops early, with kConverted, when `events` says it is stopped.
PushResult push_parse(XmlInput& input, const std::string& path, ProductEvents& events);

#endif  // L2_PUSH_PARSER_H
