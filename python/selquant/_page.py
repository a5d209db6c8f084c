"""A front or a run as one self-contained HTML page, as the program's
``--html`` writes it: the engine lays out the page around the data it kept."""

import html
import os
import tempfile

from . import _selquant


def page(kind, data, command):
    return _selquant.page(kind, data, command)


def write_page(path, kind, data, command):
    """Writes the page whole or not at all: into a file beside ``path``,
    then renamed over it."""
    text = page(kind, data, command)
    folder = os.path.dirname(os.path.abspath(path))
    fd, temporary = tempfile.mkstemp(dir=folder, prefix=".selquant-", suffix=".html")
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def iframe(kind, data, command):
    """The page inside an ``iframe``'s ``srcdoc``, as a notebook shows it."""
    return ('<iframe style="width: 100%; height: 900px; border: none" srcdoc="'
            + html.escape(page(kind, data, command), quote=True) + '"></iframe>')


def call(name, first, arguments):
    """The call that made a result, as the page shows it: the arguments
    given, in the function's order."""
    words = [first] + [f"{k}={v!r}" for k, v in arguments]
    return f"selquant.{name}({', '.join(words)})"
