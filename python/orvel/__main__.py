"""python3 -m orvel: the version, the threads a calculation uses by default and where the
package is, to check an installation."""
import os

import orvel


def main():
    orvel.orvel_init(-1)
    try:
        threads = orvel.get_option("threads")
    finally:
        orvel.orvel_end()
    print("orvel %s" % orvel.__version__)
    print("threads: %d (the default of the option threads: the cores this process may use)"
          % threads)
    print("location: %s" % os.path.dirname(os.path.abspath(orvel.__file__)))


if __name__ == "__main__":
    main()
