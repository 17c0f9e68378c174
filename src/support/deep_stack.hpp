// Room for deep syntax trees. The rewriting, the emitter and Cython recurse once or more per
// level of the tree, in Python frames and in C frames, and the interpreter's parser builds
// trees about 3000 levels deep (a sum of 3000 terms, a chain of 3000 elifs): more than the
// default recursion limit allows, and more than the main thread's stack holds once the limit
// is raised.
#pragma once

#include <functional>

namespace zel {

// Runs `work` on a thread with a large stack and a recursion limit to match, and waits for it.
// What `work` raises is raised again here; an interrupt while it runs is passed on to it, and
// raised here once it has ended. Where no such thread can be started, `work` runs here.
void run_with_deep_stack(const std::function<void()> &work);

} // namespace zel
