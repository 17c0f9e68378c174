"""The main module of a child process that multiprocessing starts for a zel script: importing zel
there runs the script's build as `__mp_main__`, whose names the child's main module takes."""
from zel.zel import ZEL

globals().update({name: value for name, value in vars(ZEL.child_main).items()
                  if not name.startswith("__")})
