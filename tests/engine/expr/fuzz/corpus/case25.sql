x // note
y