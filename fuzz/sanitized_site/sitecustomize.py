"""For the end-to-end tests of the sanitizer build (put this folder on
PYTHONPATH): a program built with AddressSanitizer cannot start under an
address-space limit, its shadow memory alone reserving terabytes of address
space, so the limits the tests set (RLIMIT_AS) are left out here. The
sanitizer run sets ASAN_OPTIONS=max_allocation_size_mb in their place, which
refuses the same large allocations."""
import resource

_setrlimit = resource.setrlimit


def _setrlimit_but_address_space(which, limits):
    if which != resource.RLIMIT_AS:
        _setrlimit(which, limits)


resource.setrlimit = _setrlimit_but_address_space
