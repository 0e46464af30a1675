@echo off
rem Runs flowseries on the bundled example, with the answers from answers.txt, and lists the
rem series files it wrote beside them.
cd /d "%~dp0"
"%~dp0..\flowseries.exe" < answers.txt
echo.
dir HTIME.CSV PTIME.CSV QTIME.csv VTIME.csv
pause
