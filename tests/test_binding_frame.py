"""What the module holds besides its six functions: PanicException and __version__."""

import importlib.metadata

import quarnel


def test_panic_exception_is_a_module_attribute_outside_all():
    # No input reaches an internal failure, so only the class itself is checked.
    assert quarnel.PanicException.__bases__ == (BaseException,)
    assert (quarnel.PanicException.__module__, quarnel.PanicException.__name__) == \
        ("quarnel", "PanicException")
    assert quarnel.__all__ == ["list_signals", "metadata", "extract", "toggles", "find",
                               "compare"]


def test_version_is_the_installed_distribution_version():
    assert type(quarnel.__version__) is str
    assert quarnel.__version__ == importlib.metadata.version("quarnel")
