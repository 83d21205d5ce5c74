"""The Doxygen input filter: what it turns into documentation, what it must
leave alone, and that it keeps every line where it was."""

from comment_filter import convert

HEADER = """\
#pragma once

// What this header holds: not any declaration's documentation.

#include <string>

// The namespace's comment stays a plain comment.
namespace orbrix {

// A gateway.
class Gateway {
 public:
  // Constant.
  static constexpr int kLimit = 3;  // at most three
  int count = 0;  // how many
  // --- orders ---

  // The bound host and gateway.
  Host* host() const;
  Gateway* gateway() const;
  // A getter and a setter per field.
  FIELDS(PROPERTY)
 private:
  int hidden_;  // no doc-comment syntax needed, but harmless
};  // class Gateway

}  // namespace orbrix
"""


def converted():
    return convert(HEADER.splitlines(keepends=True))


def test_every_line_keeps_its_place():
    out = converted()
    assert len(out) == len(HEADER.splitlines())
    assert all(line.endswith("\n") for line in out)


def test_a_block_above_a_declaration_documents_it():
    out = converted()
    assert out[9] == "/// A gateway.\n"
    assert out[12] == "  /// Constant.\n"


def test_the_files_first_block_and_blocks_above_non_declarations_stay():
    out = converted()
    assert out[2].startswith("// What this header holds")
    assert out[6].startswith("// The namespace's comment")
    assert out[15] == "  // --- orders ---\n"  # a section heading followed by a blank line


def test_an_end_of_line_comment_documents_its_member_but_not_a_brace():
    out = converted()
    assert out[13].endswith("///< at most three\n")
    assert out[14] == "  int count = 0;  ///< how many\n"
    assert out[24] == "};  // class Gateway\n"
    assert out[26] == "}  // namespace orbrix\n"


def test_a_block_above_several_declarations_or_a_macro_documents_each():
    out = converted()
    assert out[17] == "  /// The bound host and gateway.\n"
    assert out[18].startswith("  /** @{ */ Host* host() const;")
    assert out[19].rstrip().endswith("/** @} */")
    assert out[21].startswith("  /** @{ */ FIELDS(PROPERTY)") and out[21].rstrip().endswith("/** @} */")


def test_a_single_declaration_is_not_a_group():
    out = converted()
    assert "@{" not in out[13] and "@{" not in out[10]
