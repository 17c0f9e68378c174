"""Importing zel compiles the importing script to a native module and runs it in its place."""
from . import zel  # noqa: F401  (the import itself does the work and ends the process)
