"""Texts of the module's own messages that tests expect, derived from the module itself."""
from conftest import load_classes

VERSION = load_classes().ZEL.__version__
# The start of the one line that reports an internal error during a compile.
FATAL = f"[Internal error occured in version {VERSION}] "
