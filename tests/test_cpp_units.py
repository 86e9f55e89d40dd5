import subprocess


def test_cpp_unit_tests_pass(unit_tests_binary):
    result = subprocess.run([unit_tests_binary], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    assert result.returncode == 0, result.stdout
