# `python -m zel ...` imports the package first, which answers the command and ends the process.
import zel  # noqa: F401
