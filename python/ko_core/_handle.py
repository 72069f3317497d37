"""Ownership of one library handle: released by close(), the end of a with block, or, as a fallback,
the garbage collector."""

import weakref

from ._library import Error


def _release(destroy, pointer, _keep):
    # The finalizer holds _keep (what the handle was built on) until this call frees the handle.
    destroy(pointer)


class Handle:
    """A live library handle and the C call that frees it."""

    _kind = "handle"

    def __init__(self, pointer, destroy, keep=()):
        self._pointer = pointer
        # The finalizer holds what the handle needs alive (a pipeline's session) until it is freed.
        self._finalizer = weakref.finalize(self, _release, destroy, pointer, tuple(keep))
        self._dependents = weakref.WeakSet()

    @property
    def ptr(self):
        """The raw pointer, for calls on a live handle; a closed one raises Error."""
        if not self._finalizer.alive:
            raise Error(f"ko_core: this {self._kind} is closed")
        return self._pointer

    @property
    def closed(self):
        return not self._finalizer.alive

    def close(self):
        """Frees the handle now, after every handle opened on it; closing twice does nothing."""
        for dependent in list(self._dependents):
            dependent.close()
        self._finalizer()

    def _depend(self, dependent):
        """dependent is built on this handle and must be freed first."""
        self._dependents.add(dependent)

    def __enter__(self):
        self.ptr  # a closed handle cannot be entered
        return self

    def __exit__(self, *exc):
        self.close()
        return False
