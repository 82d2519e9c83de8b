<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- Chinese: the window's texts as written. The file only lets a Chinese locale find its language. -->
<TS version="2.1" language="zh_CN">
</TS>
