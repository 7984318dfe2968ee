# GUI tests drive the real program under Wine; added with the window.
