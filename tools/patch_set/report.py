"""The release gate's output: its findings section by section, every problem on a line of its
own starting with "problem:", and the exit status they make."""


class Report:
    """Prints the gate's findings section by section and counts the problems."""

    def __init__(self):
        self.problems = 0

    @staticmethod
    def section(title):
        print("\n== %s ==" % title)

    @staticmethod
    def note(text):
        print(text)

    def problem(self, text):
        self.problems += 1
        print("problem: " + text)

    def problems_of(self, texts):
        for text in texts:
            self.problem(text)

    def finish(self):
        if self.problems:
            print("\n%d problem%s: do not publish this set" % (
                self.problems, "" if self.problems == 1 else "s"))
            return 1
        print("\nno problems found")
        return 0
